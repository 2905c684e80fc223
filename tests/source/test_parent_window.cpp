// The application's window while the dialog is shown in it: disabled by enable, enabled again by
// disable, and left alone by an enable that is refused.
#include "platform/host_window.h"
#include "source/my_source.h"

#include <QtWidgets/QApplication>

#include <gtest/gtest.h>

namespace {

class HostedSource : public MySource {
public:
    HostedSource() { deviceWrapper = std::make_shared<DeviceWrapper>(); }
    void forceState(TW_UINT16 state) { setState(state); }
    void dropRecords() { deviceWrapper.reset(); }
    TW_UINT16 send(TW_UINT16 msg, TW_USERINTERFACE& ui) {
        TW_IDENTITY app{};
        app.Id = 1;
        return call(app, DG_CONTROL, DAT_USERINTERFACE, msg, &ui).returnCode;
    }
};

TEST(ParentWindow, DisabledWhileTheDialogIsShown) {
    int argc = 0;
    QApplication host(argc, nullptr);
    const auto parent = reinterpret_cast<TW_HANDLE>(0x5150);
    const auto window = reinterpret_cast<platform::NativeWindow>(parent);
    HostedSource source;
    source.forceState(4);
    TW_USERINTERFACE ui{1, 0, parent};

    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(source.send(MSG_ENABLEDS, ui), TWRC_SUCCESS);
        EXPECT_EQ(source.state(), 5);
        EXPECT_FALSE(platform::windowEnabled(window));
        ASSERT_EQ(source.send(MSG_DISABLEDS, ui), TWRC_SUCCESS);
        EXPECT_TRUE(platform::windowEnabled(window));
    }

    // Without its records the enable is refused: the window stays usable and the state 4.
    source.dropRecords();
    EXPECT_EQ(source.send(MSG_ENABLEDS, ui), TWRC_FAILURE);
    EXPECT_EQ(source.state(), 4);
    EXPECT_TRUE(platform::windowEnabled(window));
}

} // namespace
