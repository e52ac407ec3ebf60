// SimulatedSite: one site for the collector's scenarios, as the central
// side sees it: devices "d1".."dN" (data ids 1..N) whose rows it stores in
// its own ZRMDevice.db, published by the site's MQTT upstream with replay
// allowed. How the site runs is hidden here: today the upstream engine in a
// child process (velta36-upstream-child) over a file this class fills as
// the plug-in would; the scenarios only add rows, rebuild or replace the
// file, and stop or kill the site.
//
// rows() is every row the site ever held, across rebuilt tables and
// replaced files: (device, row id, card), each card unique within the site.
#ifndef VELTA36_TESTS_SUPPORT_SIMULATED_SITE_H
#define VELTA36_TESTS_SUPPORT_SIMULATED_SITE_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace velta36test {

struct SiteRow {
    std::string site;
    std::string device;
    int64_t row = 0;
    std::string card;
    bool operator<(const SiteRow& other) const
    {
        return std::tie(site, device, row, card) < std::tie(other.site, other.device, other.row, other.card);
    }
    bool operator==(const SiteRow& other) const
    {
        return std::tie(site, device, row, card) == std::tie(other.site, other.device, other.row, other.card);
    }
};

class SimulatedSite {
public:
    // folder: the site's own (made when missing); childProgram: the
    // upstream child's path.
    SimulatedSite(std::string name, int devices, std::string brokerUrl, std::string folder, std::string childProgram);
    ~SimulatedSite();
    SimulatedSite(const SimulatedSite&) = delete;
    SimulatedSite& operator=(const SimulatedSite&) = delete;

    void start();
    // SIGTERM: a clean stop; SIGKILL: as a crash.
    void stop(int signal = 15);
    bool running() const { return pid_ > 0; }

    // Stores `count` rows in one commit, spread over the devices in turn.
    void add(int count);
    // The table dropped and made anew (row ids start from 1 again).
    void rebuildTable();
    // Another file moved over ZRMDevice.db (its -wal and -shm removed).
    void replaceFile();

    std::vector<SiteRow> rows() const;
    const std::string& name() const { return name_; }
    std::string path() const { return folder_ + "/ZRMDevice.db"; }


private:
    void createFile(const std::string& path) const;
    std::vector<SiteRow> tableRows() const;

    std::string name_;
    int devices_;
    std::string brokerUrl_;
    std::string folder_;
    std::string child_;
    pid_t pid_ = -1;
    int64_t added_ = 0;
    int next_ = 0;
    std::vector<SiteRow> retired_;   // rows of tables and files no longer there
};

}  // namespace velta36test

#endif
