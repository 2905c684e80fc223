#include "ui/my_application.h"

#include "support/log.h"
#include "support/stack_trace.h"

#include <exception>
#include <string>

namespace {

// The trace is best effort: a failure while taking it must not escape the handler of another failure.
std::string currentStackTrace() {
    try {
        return stackTrace();
    } catch (...) {
        return std::string();
    }
}

} // namespace

MyApplication::MyApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool MyApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        const std::string trace = currentStackTrace();
        const std::string what = e.what();
        writeLog([&](std::ofstream& out) {
            out << trace << std::endl;
            out << "exception: " << what << std::endl;
        });
    } catch (...) {
        const std::string trace = currentStackTrace();
        const bool isNull = !std::current_exception();
        writeLog([&](std::ofstream& out) {
            out << trace << std::endl;
            out << "exception: unknown" << std::endl;
            out << "isNull: " << (isNull ? "yes" : "no") << std::endl;
        });
    }
    return true;
}
