// Run-time loading of shared libraries and lookup of their exported symbols.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// An owned handle on a loaded library; unloads it when destroyed. Move-only.
class Module {
public:
    Module() = default;
    ~Module();
    Module(Module&& other) noexcept;
    Module& operator=(Module&& other) noexcept;
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // Loads a library by path, or by bare file name through the system's search rules (and the
    // driver folder, where one is set). Returns an empty Module on failure; `error` then holds
    // the system's reason when asked for.
    static Module load(const std::filesystem::path& file, std::string* error = nullptr);

    bool loaded() const { return handle_ != nullptr; }
    explicit operator bool() const { return loaded(); }

    // Address of an exported symbol, or null when the library has none of that name.
    void* symbol(const char* name) const;

    template <typename Function> Function function(const char* name) const {
        return reinterpret_cast<Function>(symbol(name));
    }

    void unload();

private:
    explicit Module(void* handle) : handle_(handle) {}
    void* handle_ = nullptr;
};

// Full path of the library (or program) that holds this code; empty if the system cannot tell.
std::optional<std::filesystem::path> ownModuleFile();

// The file of the library (or program) that holds `address` (this code's own when null), or what
// failed with the system's error code: finding the module, or naming its file.
struct ModuleFileLookup {
    enum class Failure { none, module, fileName };
    std::optional<std::filesystem::path> file;
    Failure failure = Failure::none;
    unsigned long error = 0;
};
ModuleFileLookup moduleFileOf(const void* address);

// Keeps the library that holds `address` loaded until the process ends, however often it is
// unloaded afterwards: for a library whose own threads may still be returning into its code when
// its user unloads it. False when the system cannot find the library.
bool pinModuleOf(const void* address);

// The system's file name of a library given by its bare name:
//   Windows: "FpdSys" -> "FpdSys.dll".
//   Linux:   "FpdSys" -> "libFpdSys.so".
std::string libraryFileName(std::string_view baseName);

// The driver folder, where the data source is installed with the detector SDK beside it. A folder
// set with setDriverFolder wins (programs that link the device layer statically set it); otherwise
//   Windows: the folder of the library that holds this code (TwainDll.ds itself, installed in
//            "C:\Windows\twain_32\Ostra Sensor Twain Driver"); that folder when the system cannot
//            name the library's file.
//   Linux:   the folder of the library that holds this code (TwainDll.ds itself).
// Empty when none can be named.
std::optional<std::filesystem::path> driverFolder();
void setDriverFolder(std::optional<std::filesystem::path> folder);

// Adds the driver folder to the folders searched when Module::load is given a bare file name
// (Windows: SetDllDirectoryW; Linux: a search folder kept by this layer and tried before the
// system's own search). Returns false when there is no driver folder to add.
bool addDriverFolderToSearchPath();

// The folder added by addDriverFolderToSearchPath, if any.
std::optional<std::filesystem::path> librarySearchFolder();

// Returns to the system's default library search (Windows: SetDllDirectoryW with null; Linux: the
// folder kept by this layer is forgotten).
void resetLibrarySearchPath();

} // namespace platform
