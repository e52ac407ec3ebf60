#include "open_site.h"

namespace velta36cli {

void OpenSite(velta36site::Site& site, Console& console, bool storesEvents)
{
    // The capture first: a path that cannot be written stops everything
    // before anything else is set up.
    site.openCapture();
    site.loadPlugin();
    site.enterWorkingFolder();
    if (storesEvents) {
        const velta36site::DatabaseSetupReport report = site.setUpEventDatabase();
        const std::string file = velta36site::kDatabaseFile;
        if (!report.error.empty())
            console.line("cannot set up " + file + ": " + report.error +
                         "; polling anyway, events stay on the controllers until they can be stored");
        else if (report.setup == velta36site::DatabaseSetup::CreatedFile)
            console.line("created " + file + " in " + site.config().dir.given);
        else if (report.setup == velta36site::DatabaseSetup::CreatedTable)
            console.line("created the event table in " + file);
    }
    site.silencePluginOutput();
    site.openLines();
}

}  // namespace velta36cli
