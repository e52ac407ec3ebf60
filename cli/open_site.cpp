#include "open_site.h"

namespace velta36cli {

velta36site::SiteConfig ReadLineConfig(const velta36site::SiteOptions& options)
{
    if (options.config && options.port)
        throw velta36site::InputError("--port and --config together: the configuration names each device's "
                                      "\"port\", give it there");
    return velta36site::ReadSiteConfig(options);
}

void OpenSite(velta36site::Site& site, Console& console, bool storesEvents)
{
    // The capture first: a path that cannot be written stops everything
    // before anything else is set up.
    site.openCapture();
    site.loadPlugin();
    // The lines before the folder and the database: a port that is busy or
    // missing, or a configuration the plug-in refuses, leaves nothing
    // behind. The plug-in's devices open the database only at their first
    // save, in the folder entered below.
    site.silencePluginOutput();
    site.openLines();
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
}

}  // namespace velta36cli
