// The desktop's notifications: one message posted to the freedesktop notification service
// (org.freedesktop.Notifications) on the session bus, as every desktop shows them.
#pragma once
#include <string>

// Posts text as one notification and returns at once: it never waits for the service, never
// starts a bus, and a notification never takes the keyboard focus. True when the message was
// handed to the session bus; false, and nothing shown, when there is no session bus. Without a
// notification service on the bus the message is dropped there, silently. Call it on the GUI
// thread, once the application object exists.
bool PostDesktopNotification(const std::string& text);
