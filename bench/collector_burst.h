// What the collector's benchmarks share: a burst of events as many sites
// send them, and the baseline they are measured against, the same rows by
// one libpq COPY in one transaction.
#ifndef VELTA36_BENCH_COLLECTOR_BURST_H
#define VELTA36_BENCH_COLLECTOR_BURST_H

#include <libpq-fe.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "messages.h"
#include "pg_connection.h"

namespace velta36bench {

using velta36col::CopyText;
using velta36col::EventMessage;
using velta36col::kCopyNull;

inline double SecondsSince(std::chrono::steady_clock::time_point from)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// A burst as many sites send it: 10 sites of 10 devices, seqs interleaved.
inline std::vector<EventMessage> Burst(int count)
{
    std::vector<EventMessage> events;
    std::mt19937 random(36);
    const int devices = 100;
    for (int i = 0; i < count; ++i) {
        EventMessage e;
        e.site = "site" + std::to_string(i % devices / 10);
        e.device = "door" + std::to_string(i % 10);
        e.dataId = i % 10 + 1;
        e.seq = i / devices + 1;
        e.epoch = "6f1c2a9e0b7d4e11";
        e.row = e.seq;
        e.identity = e.epoch + ":" + std::to_string(e.row);
        char time[32];
        std::snprintf(time, sizeof time, "2024-03-%02d %02d:%02d:%02d", 1 + static_cast<int>(e.seq / 86400 % 28),
                      static_cast<int>(e.seq / 3600 % 24), static_cast<int>(e.seq / 60 % 60),
                      static_cast<int>(e.seq % 60));
        e.time = time;
        e.channel = static_cast<int32_t>(random() % 5);
        e.type = static_cast<int32_t>(random() % 7);
        e.typeName = "granted_entry";
        char card[16];
        std::snprintf(card, sizeof card, "%08u", static_cast<unsigned>(random() % 50000));
        e.card = card;
        e.reason = "\xE5\x88\xB7\xE5\x8D\xA1\xE8\xBF\x9B\xE9\x97\xA8\xE6\x88\x90\xE5\x8A\x9F";
        events.push_back(e);
    }
    return events;
}

// The baseline: the same rows into the same table through one COPY in one
// transaction, the fastest way libpq offers.
inline double CopyBaseline(const std::string& conninfo, const std::vector<EventMessage>& events)
{
    PGconn* conn = PQconnectdb(conninfo.c_str());
    if (PQstatus(conn) != CONNECTION_OK)
        throw std::runtime_error(PQerrorMessage(conn));
    const auto start = std::chrono::steady_clock::now();
    PQclear(PQexec(conn, "BEGIN"));
    PGresult* begin = PQexec(conn,
                             "COPY velta36_events (site, device, identity, data_id, seq, epoch, site_row, event_time, "
                             "channel, event_type, type_name, card, reason) FROM STDIN");
    if (PQresultStatus(begin) != PGRES_COPY_IN)
        throw std::runtime_error(PQerrorMessage(conn));
    PQclear(begin);
    std::string chunk;
    for (const EventMessage& e : events) {
        chunk += e.site + '\t' + e.device + '\t' + e.identity + '\t' + std::to_string(e.dataId) + '\t' +
                 std::to_string(e.seq) + '\t' + e.epoch + '\t' + std::to_string(e.row) + '\t' +
                 (e.time ? CopyText(*e.time) : kCopyNull) + '\t' + std::to_string(e.channel) + '\t' +
                 std::to_string(e.type) + '\t' + CopyText(e.typeName) + '\t' + CopyText(e.card) + '\t' +
                 CopyText(e.reason) + '\n';
        if (chunk.size() > 1 << 16) {
            PQputCopyData(conn, chunk.data(), static_cast<int>(chunk.size()));
            chunk.clear();
        }
    }
    PQputCopyData(conn, chunk.data(), static_cast<int>(chunk.size()));
    PQputCopyEnd(conn, nullptr);
    PGresult* result = PQgetResult(conn);
    if (PQresultStatus(result) != PGRES_COMMAND_OK)
        throw std::runtime_error(PQerrorMessage(conn));
    PQclear(result);
    while ((result = PQgetResult(conn)) != nullptr)
        PQclear(result);
    PQclear(PQexec(conn, "COMMIT"));
    const double took = SecondsSince(start);
    PQfinish(conn);
    return took;
}

}  // namespace velta36bench

#endif
