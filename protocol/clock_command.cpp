#include "clock_command.h"

namespace velta36 {

namespace {

void PutTwoDigits(unsigned char* out, int value)
{
    out[0] = static_cast<unsigned char>(value / 10 + '0');
    out[1] = static_cast<unsigned char>(value % 10 + '0');
}

}  // namespace

void WriteClockCommand(const std::tm& local, unsigned char* out)
{
    out[0] = '0';
    out[1] = '1';
    PutTwoDigits(out + 2, local.tm_hour);
    PutTwoDigits(out + 4, local.tm_min);
    PutTwoDigits(out + 6, local.tm_mday);
    PutTwoDigits(out + 8, local.tm_mon + 1);
    // The controller keeps a two-digit year; a host clock outside 2000-2099
    // still yields two digits instead of punctuation.
    const int year = local.tm_year + 1900 - 2000;
    PutTwoDigits(out + 10, ((year % 100) + 100) % 100);
    out[12] = static_cast<unsigned char>('1' + local.tm_wday);   // tm_wday 0 = Sunday
}

}  // namespace velta36
