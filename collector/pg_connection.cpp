#include "pg_connection.h"

#include <libpq-fe.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace velta36col {

namespace {

struct FreeOptions {
    void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};

std::string Trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// The server's message without libpq's trailing newline.
std::string ConnectionMessage(const pg_conn* conn)
{
    return Trimmed(conn ? PQerrorMessage(conn) : "out of memory");
}

}  // namespace

void CheckSettings(const ConnectionSettings& settings)
{
    char* error = nullptr;
    std::unique_ptr<PQconninfoOption, FreeOptions> options(PQconninfoParse(settings.conninfo.c_str(), &error));
    if (!options) {
        const std::string why = error ? Trimmed(error) : "out of memory";
        PQfreemem(error);
        throw SettingsError("--db is not a PostgreSQL connection string: " + why);
    }
    for (const PQconninfoOption* option = options.get(); option->keyword != nullptr; ++option) {
        if (std::strcmp(option->keyword, "password") == 0 && option->val != nullptr && *option->val != '\0')
            throw SettingsError("--db must not carry a password: put it in a file (--db-password-file) "
                                "or in the PostgreSQL password file (~/.pgpass or PGPASSFILE)");
    }
}

std::string ReadPasswordFile(const std::string& path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        throw SettingsError("cannot read the password file " + path + ": " + std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        throw SettingsError("the password file " + path + " is not a regular file");
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        throw SettingsError("the password file " + path +
                            " may be read by group or others; make it private (chmod 600)");
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line) || Trimmed(line).empty())
        throw SettingsError("the password file " + path + " holds no password on its first line");
    return Trimmed(line);
}

int PgResult::rows() const
{
    return PQntuples(result_.get());
}

bool PgResult::isNull(int row, int column) const
{
    return PQgetisnull(result_.get(), row, column) != 0;
}

std::string PgResult::text(int row, int column) const
{
    return std::string(PQgetvalue(result_.get(), row, column),
                       static_cast<std::size_t>(PQgetlength(result_.get(), row, column)));
}

int64_t PgResult::integer(int row, int column) const
{
    return std::strtoll(PQgetvalue(result_.get(), row, column), nullptr, 10);
}

std::optional<std::string> PgResult::optionalText(int row, int column) const
{
    if (isNull(row, column))
        return std::nullopt;
    return text(row, column);
}

std::optional<int64_t> PgResult::optionalInteger(int row, int column) const
{
    if (isNull(row, column))
        return std::nullopt;
    return integer(row, column);
}

int64_t PgResult::affected() const
{
    const char* count = PQcmdTuples(result_.get());
    return count && *count ? std::strtoll(count, nullptr, 10) : 0;
}

void PgResult::Clear::operator()(pg_result* result) const
{
    PQclear(result);
}

PgConnection::PgConnection(const ConnectionSettings& settings, const char* applicationName)
{
    CheckSettings(settings);
    std::optional<std::string> password;
    if (settings.passwordFile)
        password = ReadPasswordFile(*settings.passwordFile);
    // Defaults first: the connection string (expanded from "dbname")
    // overrides them, and the password from the file comes last.
    std::vector<const char*> keywords{"application_name", "connect_timeout", "dbname"};
    std::vector<const char*> values{applicationName, "10", settings.conninfo.c_str()};
    if (password) {
        keywords.push_back("password");
        values.push_back(password->c_str());
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    conn_ = PQconnectdbParams(keywords.data(), values.data(), 1);
    if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK) {
        const std::string why = ConnectionMessage(conn_);
        PQfinish(conn_);
        conn_ = nullptr;
        throw PgError("cannot connect to PostgreSQL: " + why, "", true);
    }
    // The server's notices ("already exists, skipping") are not ours to print.
    PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
}

PgConnection::~PgConnection()
{
    PQfinish(conn_);
}

bool PgConnection::broken() const
{
    return conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK;
}

PgResult PgConnection::check(pg_result* result, const std::string& sql)
{
    PgResult owned(result);
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        return owned;
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    std::string sqlState = state ? state : "";
    // Class 08 is a connection exception, 57P01-03 a server shutting down
    // or starting. An error without a state is libpq's own, from the
    // socket: libpq may still call such a connection OK (a failed write
    // is reported only once the reply is read), but it is gone.
    const bool lost = broken() || sqlState.empty() || sqlState.rfind("08", 0) == 0 || sqlState == "57P01" ||
                      sqlState == "57P02" || sqlState == "57P03";
    std::string first = sql.substr(0, sql.find_first_of("\n("));
    throw PgError(ConnectionMessage(conn_) + " (in: " + first + ")", sqlState, lost);
}

PgResult PgConnection::exec(const std::string& sql, const std::vector<Param>& params)
{
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const Param& param : params)
        values.push_back(param ? param->c_str() : nullptr);
    return check(PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                              nullptr, nullptr, 0),
                 sql);
}

void PgConnection::script(const std::string& sql)
{
    check(PQexec(conn_, sql.c_str()), sql);
}

int64_t PgConnection::copyIn(const std::string& sql, const std::string& rows)
{
    PgResult started(PQexec(conn_, sql.c_str()));
    if (PQresultStatus(started.raw()) != PGRES_COPY_IN)
        check(started.release(), sql);
    if (PQputCopyData(conn_, rows.data(), static_cast<int>(rows.size())) != 1 ||
        PQputCopyEnd(conn_, nullptr) != 1)
        throw PgError(ConnectionMessage(conn_) + " (in: COPY)", "", true);
    // The COPY's own result; the rest read before anything may throw, so
    // that the connection is ready for the next command.
    pg_result* result = PQgetResult(conn_);
    while (pg_result* more = PQgetResult(conn_))
        PQclear(more);
    return check(result, sql).affected();
}

void PgConnection::rollbackQuietly()
{
    if (broken())
        return;
    PQclear(PQexec(conn_, "ROLLBACK"));
}

namespace {

void AppendElement(std::string& out, const std::string& value)
{
    out += '"';
    for (char c : value) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
}

}  // namespace

std::string TextArray(const std::vector<std::string>& values)
{
    std::string out = "{";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            out += ',';
        AppendElement(out, values[i]);
    }
    return out + "}";
}

std::string TextArray(const std::vector<Param>& values)
{
    std::string out = "{";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            out += ',';
        if (values[i])
            AppendElement(out, *values[i]);
        else
            out += "NULL";
    }
    return out + "}";
}

std::string IntegerArray(const std::vector<int64_t>& values)
{
    std::string out = "{";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            out += ',';
        out += std::to_string(values[i]);
    }
    return out + "}";
}

std::string CopyText(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '\\' || c == '\t' || c == '\n' || c == '\r')
            out += '\\';
        out += c == '\n' ? 'n' : c == '\r' ? 'r' : c == '\t' ? 't' : c;
    }
    return out;
}

}  // namespace velta36col
