// The start steps of a site in the order the tool takes them, with what
// they report printed: the capture, the plug-in, the plug-in's output, the
// lines, then the working folder and (for a run) the event database.
#ifndef VELTA36_CLI_OPEN_SITE_H
#define VELTA36_CLI_OPEN_SITE_H

#include "console.h"
#include "site.h"

namespace velta36cli {

// The configuration of the command line's --port, --config, ...; a
// configuration names every device's port, so --port beside it is refused
// rather than applied to some devices and not others.
velta36site::SiteConfig ReadLineConfig(const velta36site::SiteOptions& options);

// storesEvents: the event database is set up (run); a command needs only
// the folder.
void OpenSite(velta36site::Site& site, Console& console, bool storesEvents);

}  // namespace velta36cli

#endif
