// A configuration file is read strictly: every lax or misspelled file is
// refused with one line naming the file, the line and the key, and the
// keys documented in docs/configuration.md are exactly the reader's.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "config_keys.h"
#include "input_error.h"
#include "site_config.h"
#include "temp_work_dir.h"

namespace {

std::string Refusal(const std::string& text, velta36site::SiteOptions options = {})
{
    std::ofstream("site.json") << text;
    options.config = "site.json";
    try {
        velta36site::ReadSiteConfig(options);
    } catch (const velta36site::InputError& error) {
        return error.what();
    }
    return "accepted";
}

TEST(StrictConfig, lax_or_misspelled_files_are_refused_in_one_line_with_the_key_meant)
{
    velta36test::TempWorkDir dir;
    const std::string device = R"({"name": "front", "port": "/dev/ttyS1", )";
    const struct {
        std::string text;
        std::string refusal;
    } cases[] = {
        {device + "\n \"adress\": 3}", "site.json, line 2: unknown key \"adress\" (did you mean \"address\"?)"},
        {device + "\"appSettings\": {}}", "site.json, line 1: unknown key \"appSettings\" (did you mean \"appSetting\"?)"},
        {device + "\"appSetting\": {\n\"doors1_delay\": 5}}",
         "site.json, line 2: unknown key \"doors1_delay\" in \"appSetting\" (did you mean \"door1_delay\"?)"},
        {device + "\"doors\": 2}", "site.json, line 1: unknown key \"doors\" (it belongs in \"appSetting\")"},
        {device + "\"Address\": 2}", "site.json, line 1: unknown key \"Address\" (did you mean \"address\"?)"},
        {device + "\"colour\": 2}", "site.json, line 1: unknown key \"colour\""},
        {"{\"devices\": [{\"port\": \"a\"},\n {\"port\": \"b\", \"address\": 1, \"mqtt\": {}}]}",
         "site.json, device 2, line 2: unknown key \"mqtt\" (it belongs in the root object)"},
        {"{\"devices\": [{\"port\": \"a\"}],\n \"address\": 1}",
         "site.json, line 2: unknown key \"address\" at the root (it belongs in a device's object)"},
        {"{\"device\": [{\"port\": \"a\"}]}", "site.json, line 1: unknown key \"device\" (did you mean \"devices\"?)"},
        {device + "\"thresholdSetting\": {\"s1\": {\"SignalName\": \"Door\",\n \"NMAlarmId\": 7}}}",
         "site.json, line 2: unknown key \"NMAlarmId\" in \"thresholdSetting\" \"s1\" (did you mean \"NMAlarmID\"?)"},
        {device + "\"thresholdSetting\": {\"s1\": 3}}", "site.json, line 1: \"s1\" of \"thresholdSetting\" must be an object"},
        {device + "\"address\": 1,\n \"address\": 2}", "site.json, line 2: duplicate key \"address\""},
        {device + "\"address\": 1,\n}", "site.json, line 2: not valid JSON: Missing '}' or object member name"},
        {"// the front door\n" + device + "\"address\": 1}",
         "site.json, line 1: not valid JSON: Syntax error: value, object or array expected."},
        {device + "\"address\": 1}\n{}", "site.json, line 2: not valid JSON: Extra non-whitespace after JSON value."},
        {"[{\"port\": \"a\"},]", "site.json, line 1: not valid JSON: Syntax error: value, object or array expected."},
        {"", "site.json: empty (a device's object or a list of them)"},
        {"[{\"port\": \"a\"}, {\"address\": 1}]", "site.json, device 2: \"port\" is missing (a device path, or \"simulator\")"},
        {"{\"port\": \"\"}", "site.json: \"port\" is empty (a device path, or \"simulator\")"},
        {"{\"port\": \"a\", \"name\": 5}", "site.json: \"name\" must be a text"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Refusal(c.text), c.refusal) << c.text;
}

TEST(StrictConfig, the_simulator_is_named_and_the_command_line_fills_in_a_port)
{
    velta36test::TempWorkDir dir;
    EXPECT_EQ(Refusal("{\"port\": \"simulator\", \"mqtt\": {}}\n"), "accepted");
    velta36site::SiteOptions options;
    options.port = "/dev/ttyS1";
    EXPECT_EQ(Refusal("[{\"address\": 1}, {\"address\": 2, \"port\": \"/dev/ttyS2\"}]", options), "accepted");

    std::ofstream("site.json") << R"({"mqtt": {"host": "broker"}, "devices": [
        {"port": "simulator", "address": 3},
        {"port": "/dev/ttyUSB0", "name": "gate", "appSetting": {"b_mode": 3},
         "thresholdSetting": {"any name": {"SignalName": "Door", "NMAlarmID": 7, "ID": 1, "SignalNumber": 3,
                                            "Threshold": 1, "Level": 2}}}]})";
    options = {};
    options.config = "site.json";
    const velta36site::SiteConfig config = velta36site::ReadSiteConfig(options);
    ASSERT_EQ(config.devices.size(), 2u);
    EXPECT_EQ(config.devices[0].identity.port, velta36site::kSimulatorPort);   // the built-in simulated line
    EXPECT_EQ(config.devices[1].identity.port, "/dev/ttyUSB0");
    EXPECT_EQ(config.mqtt["host"].asString(), "broker");
}

TEST(StrictConfig, the_reference_page_documents_every_key_and_no_other)
{
    std::ifstream page(VELTA36_SOURCE_DIR "/docs/configuration.md");
    ASSERT_TRUE(page) << "docs/configuration.md";
    const std::regex row(R"(^\| `([^`]+)` \| (\w+) \|)");
    std::set<std::string> documented, known;
    std::string line;
    std::smatch match;
    while (std::getline(page, line)) {
        if (std::regex_search(line, match, row))
            documented.insert(match[2].str() + " " + match[1].str());
    }
    for (const velta36site::ConfigKey& key : velta36site::ConfigKeys())
        known.insert(std::string(velta36site::ConfigPlaceName(key.place)) + " " + key.name);
    EXPECT_EQ(documented, known);
}

}  // namespace
