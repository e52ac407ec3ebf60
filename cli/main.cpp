// velta36: the host for velta36.so on a serial line, on the command line.
#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>
#include <map>

#include "commands.h"
#include "refhost/plugin_loader.h"
#include "refhost/serial_transport.h"

using namespace velta36cli;

namespace {

// An empty port names no device: never read as "the simulator".
CLI::Validator NamesADevice()
{
    return CLI::Validator(
        [](std::string& port) {
            return port.empty() ? std::string("an empty port names no device (--simulate for the simulator)")
                                : std::string();
        },
        "PORT");
}

// For every subcommand that opens a port.
void AddRs485Options(CLI::App& command, refhost::Rs485Settings& rs485)
{
    CLI::Option* enabled = command.add_flag(
        "--rs485", rs485.enabled, "kernel RS-485 mode: RTS enables the transceiver's driver while sending");
    command
        .add_option("--rs485-rts", rs485.rtsHighWhileSending, "RTS level while sending: high (default) or low")
        ->transform(CLI::CheckedTransformer(std::map<std::string, bool>{{"high", true}, {"low", false}}))
        ->needs(enabled);
    command.add_option("--rs485-delay-before", rs485.delayBeforeSendMs, "ms between RTS and the first byte")
        ->check(CLI::Range(0u, refhost::kMaxRs485DelayMs))
        ->needs(enabled);
    command.add_option("--rs485-delay-after", rs485.delayAfterSendMs, "ms between the last byte and RTS")
        ->check(CLI::Range(0u, refhost::kMaxRs485DelayMs))
        ->needs(enabled);
}

void AddLineOptions(CLI::App& command, velta36site::SiteOptions& line)
{
    CLI::Option* port =
        command.add_option("--port", line.port, "serial device or pseudo-terminal (none: the built-in simulator)")
            ->check(NamesADevice());
    command.add_option("--baud", line.baud, "line speed (default 9600)");
    command.add_option("--address", line.address, "controller bus address (default 0)");
    CLI::Option* config =
        command.add_option("--config", line.config, "JSON configuration of a device or a list of devices");
    command
        .add_flag_callback(
            "--simulate", [&line] { line.port = velta36site::kSimulatorPort; },
            "the built-in simulated controller (the default without --port and --config)")
        ->excludes(port)
        ->excludes(config);
    command.add_option("--dir", line.dir, "folder of ZRMDevice.db (default: current folder)");
    command.add_option("--plugin", line.plugin, "path of velta36.so (default: next to the tool)");
    command.add_flag("--trace", line.trace, "print every frame sent and received, and the plug-in's log");
    command.add_option("--capture", line.capture, "write every chunk on the line to this pcapng file");
    AddRs485Options(command, line.rs485);
}

// The commands whose steps are safe to send again from the start.
void AddTriesOption(CLI::App& command, int32_t& tries)
{
    command.add_option("--tries", tries,
                       "runs of the command while the controller refuses a step (default " +
                           std::to_string(kDefaultTries) + ")");
}

}  // namespace

int main(int argc, char** argv)
{
    CLI::App app("velta36: drive velta36 access controllers through the velta36.so plug-in", "velta36");
    app.require_subcommand(1);
    app.set_version_flag("--version", "velta36 0.1.0");

    RunOptions run;
    CLI::App* runCommand = app.add_subcommand("run", "poll controllers and store their events");
    AddLineOptions(*runCommand, run.line);
    runCommand->add_option("--rounds", run.rounds, "stop after N completed rounds per device")
        ->check(CLI::PositiveNumber);
    runCommand->add_option("--interval", run.intervalSeconds, "seconds between polling cycles")
        ->check(CLI::NonNegativeNumber);
    runCommand->add_option("--metrics", run.metrics,
                           "keep per-device figures in this file, in the Prometheus text format");
    runCommand->add_option("--mqtt", run.mqtt.url,
                           "publish events and door states to this broker, mqtt://host[:port] or mqtts://host[:port]");
    runCommand->add_option("--site", run.mqtt.site, "the site's name on the broker (default: the host name)");

    velta36site::SiteOptions openLine;
    int32_t openDoor = 0;
    CLI::App* openCommand = app.add_subcommand("open-door", "open a door (relay) on the controller");
    AddLineOptions(*openCommand, openLine);
    openCommand->add_option("--door", openDoor, "door 1 or 2")->required();

    velta36site::SiteOptions configureLine;
    CLI::App* configureCommand =
        app.add_subcommand("configure", "download the configuration (doors, relay delays, card type)");
    AddLineOptions(*configureCommand, configureLine);
    int32_t configureTries = kDefaultTries;
    AddTriesOption(*configureCommand, configureTries);

    velta36site::SiteOptions addLine;
    std::string cardCode, endDate;
    int32_t addSlot = 0, addDoor = 0;
    CLI::App* addCommand = app.add_subcommand("add-card", "store a card in a slot of the controller");
    AddLineOptions(*addCommand, addLine);
    int32_t addTries = kDefaultTries;
    AddTriesOption(*addCommand, addTries);
    addCommand->add_option("--code", cardCode, "card code, 8 letters or digits")->required();
    addCommand->add_option("--slot", addSlot, "card slot 0..9999")->required();
    addCommand->add_option("--end", endDate, "last valid day, YYYY-MM-DD")->required();
    addCommand->add_option("--door", addDoor, "door 1 or 2, or 0 for both")->required();

    velta36site::SiteOptions deleteLine;
    int32_t deleteSlot = 0, deleteDoor = 0;
    CLI::App* deleteCommand = app.add_subcommand("delete-card", "clear a card slot of the controller");
    AddLineOptions(*deleteCommand, deleteLine);
    int32_t deleteTries = kDefaultTries;
    AddTriesOption(*deleteCommand, deleteTries);
    deleteCommand->add_option("--slot", deleteSlot, "card slot 0..9999")->required();
    deleteCommand->add_option("--door", deleteDoor, "door 1 or 2, or 0 for both")->required();

    EventsOptions events;
    CLI::App* eventsCommand = app.add_subcommand("events", "list stored events, newest first");
    eventsCommand->add_option("--dir", events.dir, "folder of ZRMDevice.db (default: current folder)");
    eventsCommand->add_option("--limit", events.limit, "at most N events (default 20 in the table, all in csv and json)");
    eventsCommand->add_option("--format", events.format, "table (default), csv, or json (one object a line)");
    eventsCommand->add_option("--since", events.since, "only events at or after YYYY-MM-DD[ hh:mm[:ss]]");
    eventsCommand->add_option("--until", events.until, "only events up to YYYY-MM-DD[ hh:mm[:ss]], that day or minute included");
    eventsCommand->add_option("--card", events.card, "only events of this card number (8 characters)");
    eventsCommand->add_option("--channel", events.channels, "only events of this channel, 0 to 4 (repeatable)");
    eventsCommand->add_option("--type", events.types, "only events of this type code (repeatable)");
    eventsCommand->add_option("--device", events.devices,
                              "only events of this device: data id, or name with --config; with --db its id (repeatable)");
    eventsCommand->add_option("--config", events.config, "the site's configuration, for the devices' names");
    eventsCommand->add_option("--db", events.db, "list the central PostgreSQL database (postgresql://... or key=value)");
    eventsCommand->add_option("--db-password-file", events.dbPasswordFile, "the database password, first line of this file");
    eventsCommand->add_option("--site", events.sites, "with --db: only events of this site (repeatable)");

    CollectOptions collect;
    CLI::App* collectCommand =
        app.add_subcommand("collect", "store every site's events from the broker in a PostgreSQL database");
    collectCommand->add_option("--mqtt", collect.mqtt, "broker URL, mqtt://host[:port] or mqtts://host[:port]");
    collectCommand->add_option("--config", collect.config, "JSON file with an \"mqtt\" object (as for run)");
    collectCommand->add_option("--db", collect.db, "PostgreSQL connection string (postgresql://... or key=value)")
        ->required();
    collectCommand->add_option("--db-password-file", collect.dbPasswordFile,
                               "the database password, first line of this file (else ~/.pgpass or PGPASSFILE)");
    collectCommand->add_option("--share", collect.share, "join this shared-subscription group ($share/GROUP/...)");
    collectCommand->add_option("--client-id", collect.clientId, "MQTT client id (default velta36-collect)");
    collectCommand->add_option("--session-expiry", collect.sessionExpirySeconds,
                               "seconds the broker keeps our session while away (default a week; 30 with --share)");
    collectCommand->add_option("--gap-grace", collect.gapGraceMs, "ms a gap stays open before it is asked for (default 5000)");
    collectCommand->add_option("--replay-retry", collect.replayRetryMs, "ms before an unanswered replay is asked again (default 30000)");

    SimulateOptions simulate;
    CLI::App* simulateCommand =
        app.add_subcommand("simulate", "simulated controller(s) on a new pseudo-terminal; prints its path");
    simulateCommand->add_option("--doors", simulate.doors, "doors per controller, 1 or 2 (default 2)");
    simulateCommand->add_option("--address", simulate.addresses, "controller address; repeat for several");
    simulateCommand->add_option("--events", simulate.events, "stored events per controller (default: a working day)");
    simulateCommand->add_option("--baud", simulate.baud, "pace replies at this rate (default: unpaced)");
    simulateCommand->add_option("--seed", simulate.seed, "seed of the events and faults");
    simulateCommand->add_option("--seconds", simulate.seconds, "stop after this many seconds (default: on interrupt)");
    simulateCommand->add_option("--split", simulate.split, "rate of replies split into chunks (0..1)");
    simulateCommand->add_option("--noise", simulate.noise, "rate of noise before a reply (0..1)");
    simulateCommand->add_option("--corrupt", simulate.corrupt, "rate of data replies with a bad checksum (0..1)");
    simulateCommand->add_option("--refuse", simulate.refuse, "rate of refused commands (0..1)");
    simulateCommand->add_option("--drop", simulate.drop, "rate of lost replies (0..1)");
    simulateCommand->add_option("--lose", simulate.lose, "rate of lost commands (0..1)");
    simulateCommand->add_option("--capture", simulate.capture, "write every chunk on the line to this pcapng file");

    ScanOptions scan;
    CLI::App* scanCommand = app.add_subcommand("scan", "ask every address on a line for its door status");
    scanCommand->add_option("--port", scan.port, "serial device or pseudo-terminal")->required()->check(NamesADevice());
    scanCommand->add_option("--baud", scan.baud, "line speed (default 9600)");
    scanCommand->add_option("--from", scan.from, "first address (default 0)");
    scanCommand->add_option("--to", scan.to, "last address (default 207)");
    scanCommand->add_option("--tries", scan.tries, "requests per address before it counts as silent (default 1)");
    scanCommand->add_option("--wait", scan.waitMs, "ms a controller may take to start answering (default 300)");
    scanCommand->add_option("--capture", scan.capture, "write every chunk on the line to this pcapng file");
    AddRs485Options(*scanCommand, scan.rs485);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version);
    } catch (const CLI::ParseError& error) {
        std::cerr << "velta36: " << error.what() << " (see velta36 --help)" << std::endl;
        return kExitBadInput;
    }

    Console console;
    try {
        if (runCommand->parsed())
            return RunCommand(run, console);
        if (openCommand->parsed())
            return ControlCommand(openLine, velta36site::OpenDoorRequest(openDoor), 1, console);
        if (configureCommand->parsed())
            return ControlCommand(configureLine, velta36site::ConfigureRequest(), configureTries, console);
        if (addCommand->parsed())
            return ControlCommand(addLine, velta36site::AddCardRequest(cardCode, addSlot, endDate, addDoor),
                                  addTries, console);
        if (deleteCommand->parsed())
            return ControlCommand(deleteLine, velta36site::DeleteCardRequest(deleteSlot, deleteDoor), deleteTries,
                                  console);
        if (eventsCommand->parsed())
            return EventsCommand(events, console);
        if (collectCommand->parsed()) {
#ifdef VELTA36_HAVE_COLLECTOR
            return CollectCommand(collect, console);
#else
            throw InputError("collect: this build of velta36 has no PostgreSQL or MQTT support");
#endif
        }
        if (simulateCommand->parsed())
            return SimulateCommand(simulate, console);
        if (scanCommand->parsed())
            return ScanCommand(scan, console);
    } catch (const InputError& error) {
        console.error(error.what());
        return kExitBadInput;
    } catch (const refhost::SerialError& error) {
        console.error(error.what());
        return kExitFailed;
    } catch (const refhost::PluginError& error) {
        console.error(error.what());
        return kExitFailed;
    } catch (const std::exception& error) {
        console.error(error.what());
        return kExitFailed;
    }
    return kExitBadInput;
}
