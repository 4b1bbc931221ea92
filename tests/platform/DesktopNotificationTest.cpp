// The desktop notification over a private session bus (dbus-daemon started by the test) with
// a stand-in notification service that records each call.
#include "platform/DesktopNotification.h"

#include "support/PrivateBus.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

using namespace corvane;

namespace {

class DesktopNotificationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::access("/usr/bin/dbus-daemon", X_OK) != 0)
            GTEST_SKIP() << "dbus-daemon is not installed";
        ASSERT_TRUE(bus.Ok()) << "the private bus did not start";
        address = bus.Address();
    }
    void StartService()
    {
        ASSERT_TRUE(bus.StartService(CORVANE_NOTIFICATION_STANDIN, record))
            << "the stand-in service did not start";
    }

    TempDir temp;
    const std::string record = temp.File("calls");
    testbus::PrivateBus bus;
    std::string address;
};

TEST_F(DesktopNotificationTest, TheServiceGetsSummaryAndBody)
{
    StartService();
    DesktopNotification notification;
    notification.summary = "Corvane: feeds updated";
    notification.body = "The package /p/c.mrf is ready.\nFailed: http://h/1";
    std::string error;
    ASSERT_TRUE(SendDesktopNotification(notification, error)) << error;
    notification.summary = "second";
    ASSERT_TRUE(SendDesktopNotification(notification, error)) << error;
    EXPECT_EQ(ReadWholeFile(record),
        "Corvane|Corvane: feeds updated|The package /p/c.mrf is ready.\\nFailed: http://h/1\n"
        "Corvane|second|The package /p/c.mrf is ready.\\nFailed: http://h/1\n");
}

TEST_F(DesktopNotificationTest, NoServiceOnTheBusIsAFailureNamingTheBus)
{
    DesktopNotification notification;
    notification.summary = "x";
    std::string error;
    EXPECT_FALSE(SendDesktopNotification(notification, error));
    EXPECT_NE(error.find(address), std::string::npos) << error;
}

TEST(DesktopNotificationWithoutBusTest, NoBusIsAFailure)
{
    TempDir temp;
    ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
    ScopedEnv runtime("XDG_RUNTIME_DIR", temp.Path());
    EXPECT_EQ(SessionBusAddress(), "");
    std::string error;
    EXPECT_FALSE(SendDesktopNotification({}, error));
    EXPECT_NE(error.find("no session bus"), std::string::npos);
}

} // namespace
