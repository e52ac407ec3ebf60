// What happens at a site, told to whoever listens: the console, the metrics
// file, an upstream broker.
//
// Every call comes on the site's notification thread, one at a time, in
// the order things happened (an event stored during a round before that
// round's completion), never two at once and never from two threads. A
// listener needs no lock for its own state, but it must not block for long:
// while it runs, every other listener waits and the notices of the lines
// queue up (they are not lost). Hand slow work (a network send) to a
// thread of the listener's own.
//
// A listener may read the site's snapshot (Site::status()), submit
// commands and stop the site from any call, but not wait for it. Calls
// start with Site::start() and end before Site::wait() returns. What a
// listener throws is dropped (the other listeners still hear the call).
// Every call has a default that does nothing: override what you need.
#ifndef VELTA36_SITE_SITE_LISTENER_H
#define VELTA36_SITE_SITE_LISTENER_H

#include <string>

#include "control_request.h"
#include "device_identity.h"
#include "door_states.h"
#include "event_database.h"
#include "refhost/database_health.h"
#include "refhost/scheduler.h"

namespace velta36site {

class SiteListener {
public:
    virtual ~SiteListener();

    // A row of the event table, as read back from the database with its id,
    // once per row. Rows of a data id that no device of the site has
    // (another writer of the file) come with an identity whose
    // ofThisSite() is false and whose name is "data id N".
    virtual void onEventStored(const DeviceIdentity& device, const StoredEvent& row);

    // The doors the device published differ from those it published last
    // (also at its first round).
    virtual void onDoorsChanged(const DeviceIdentity& device, const DoorStates& doors);

    // The device published its record: a polling round is complete.
    virtual void onRoundCompleted(const DeviceIdentity& device);

    // The host ended an exchange of the device (a round or a command)
    // because the controller went quiet. Noticed within a few hundred ms.
    virtual void onRoundTimedOut(const DeviceIdentity& device);

    // The device's events stopped reaching the database (health.faulty,
    // with what the database said in health.lastError), or reach it again:
    // one call when a fault starts and one when it is over.
    virtual void onDatabaseFault(const DeviceIdentity& device, const refhost::DatabaseHealth& health);

    // A line ended on an error (a port that went away, an I/O error); its
    // devices are no longer polled. Noticed within a few hundred ms.
    virtual void onLineStopped(const LineIdentity& line, const std::string& error);

    // A line's port could not be opened (open false, with why; told again
    // when the reason changes): its devices wait while it is tried again
    // with back-off, the other lines run on. Or it opened after that.
    virtual void onLineState(const LineIdentity& line, bool open, const std::string& error);

    // A command submitted through Site::submit ended (its future holds the
    // same outcome).
    virtual void onControlOutcome(const DeviceIdentity& device, const ControlRequest& request,
                                  const ControlOutcome& outcome);

    // Only when the configuration asks for the trace: every chunk written
    // to or read from a line (also with SiteConfig::watchLines), and every
    // line the plug-in writes on standard output while the site runs, in
    // the order they happened.
    virtual void onTraffic(const refhost::TraceRecord& record);
    virtual void onPluginLog(const DeviceIdentity& device, const std::string& line);

    // The capture file could not be written; nothing more goes into it.
    virtual void onCaptureStopped(const std::string& why);

    // About four times a second, whatever else happens (for figures that
    // age, such as the time since a device's last round).
    virtual void onTick();
};

}  // namespace velta36site

#endif
