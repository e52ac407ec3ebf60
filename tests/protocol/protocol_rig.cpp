#include "protocol_rig.h"

#include "event_db.h"

#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace {

std::string Text(sqlite3_stmt* statement, int column)
{
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text ? reinterpret_cast<const char*>(text) : "";
}

std::string Render(const refhost::HostEvent& event)
{
    using Kind = refhost::HostEvent::Kind;
    switch (event.kind) {
    case Kind::Send:
        return "Send " + std::string(event.bytes.begin(), event.bytes.end());
    case Kind::Delay:
        return "Delay " + std::to_string(event.number);
    case Kind::SendSP:
        return "SendSP " + std::to_string(event.number);
    default:
        return refhost::KindName(event.kind);
    }
}

}  // namespace

ScratchDatabase::ScratchDatabase()
{
    char cwd[4096];
    if (!getcwd(cwd, sizeof(cwd)))
        throw std::runtime_error("getcwd");
    previous_ = cwd;
    char pattern[] = "/tmp/velta36-protocol-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    // The table comes from the mapping's own creation routine, as a host
    // creates it.
    velta36test::CreateEventDatabase(path());
    if (chdir(dir_.c_str()) != 0)
        throw std::runtime_error("chdir");
}

ScratchDatabase::~ScratchDatabase()
{
    if (chdir(previous_.c_str()) != 0)
        std::perror("chdir");
    std::remove(path().c_str());
    rmdir(dir_.c_str());
}

std::vector<EventRow> ScratchDatabase::rows() const
{
    std::vector<EventRow> rows;
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_open_v2(path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db,
                           "SELECT id, data_id, EventTime, ReaderChannel, EventType, CardNo, Reason "
                           "FROM velta36_event ORDER BY id",
                           -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot read the event table");
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
        EventRow row;
        row.id = sqlite3_column_int64(statement, 0);
        row.dataId = sqlite3_column_int64(statement, 1);
        row.hasTime = sqlite3_column_type(statement, 2) != SQLITE_NULL;
        row.time = Text(statement, 2);
        row.channel = sqlite3_column_int(statement, 3);
        row.type = sqlite3_column_int(statement, 4);
        row.card = Text(statement, 5);
        row.reason = Text(statement, 6);
        rows.push_back(row);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

ProtocolRig::ProtocolRig(int doors, int door1Delay, int door2Delay, int cardType)
    : db_(), line(), host(&line), device(new VELTA36())
{
    host.attach(*device);
    host.setObserver([this](const refhost::HostEvent& event) {
        calls_.push_back(Render(event));
        if (event.kind == refhost::HostEvent::Kind::SendSP)
            published_.push_back(event.bytes);
    });
    line.open();
    Json::Value config;
    config["data_id"] = 77;
    config["appSetting"]["doors"] = doors;
    config["appSetting"]["door1_delay"] = door1Delay;
    config["appSetting"]["door2_delay"] = door2Delay;
    config["appSetting"]["card_type"] = cardType;
    device->InitSetting(config);
    clear();
}

int ProtocolRig::feed(const std::string& chunk)
{
    std::vector<unsigned char> bytes(chunk.begin(), chunk.end());
    return device->process(bytes.data(), static_cast<unsigned int>(bytes.size()));
}

int ProtocolRig::feedEmpty()
{
    // An empty chunk at the end of real storage: any read of it would be
    // past the end.
    std::vector<unsigned char> nothing;
    return device->process(nothing.data(), 0);
}

std::vector<std::string> ProtocolRig::sentFrames() const
{
    std::vector<std::string> frames;
    for (const std::string& call : calls_) {
        if (call.compare(0, 5, "Send ") == 0)
            frames.push_back(call.substr(5));
    }
    return frames;
}

void ProtocolRig::clear()
{
    calls_.clear();
    published_.clear();
}
