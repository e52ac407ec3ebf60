// The value query reports only the readiness of the data.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "temp_work_dir.h"
#include "test_host.h"

namespace {

using boost::posix_time::ptime;
using boost::posix_time::second_clock;
using boost::posix_time::seconds;

class ValueQuery : public ::testing::Test {
protected:
    // The message Get_Value throws; "" when it returned or threw otherwise.
    std::string Message()
    {
        try {
            rig.device->Get_Value(1, "anything");
        } catch (const std::out_of_range& error) {
            return error.what();
        } catch (...) {
        }
        return "";
    }

    // The message with the last round age seconds ago; retried when the
    // clock ticked between setting lastUpdate and the query.
    std::string MessageAtAge(long age)
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            const ptime now = second_clock::local_time();
            rig.device->dataReady = true;
            rig.device->lastUpdate = now - seconds(age);
            const std::string message = Message();
            if (second_clock::local_time() == now)
                return message;
        }
        ADD_FAILURE() << "the clock kept ticking during the query";
        return "";
    }

    velta36test::TempWorkDir workDir;
    velta36test::TestHost rig;
};

TEST_F(ValueQuery, BeforeAnyRoundTheDataIsNotReady)
{
    EXPECT_EQ(Message(), "数据未就绪");
    // Not ready wins over any age.
    rig.device->lastUpdate = second_clock::local_time() - seconds(3600);
    EXPECT_EQ(Message(), "数据未就绪");
}

TEST_F(ValueQuery, SixtySecondsIsFreshSixtyOneIsStale)
{
    EXPECT_EQ(MessageAtAge(0), "不支持变量");
    EXPECT_EQ(MessageAtAge(60), "不支持变量");
    EXPECT_EQ(MessageAtAge(61), "数据已超时");
    EXPECT_EQ(MessageAtAge(86400), "数据已超时");
}

TEST_F(ValueQuery, AClockSetBackIsNotStale)
{
    EXPECT_EQ(MessageAtAge(-3600), "不支持变量");
}

TEST_F(ValueQuery, ReadyWithoutATimeStampCountsAsStale)
{
    rig.device->dataReady = true;
    rig.device->lastUpdate = ptime(boost::posix_time::not_a_date_time);
    EXPECT_EQ(Message(), "数据已超时");
}

TEST_F(ValueQuery, AfterARealRoundTheDeviceHasNoVariables)
{
    rig.configure("{}");
    rig.device->RoundDone();
    EXPECT_EQ(Message(), "不支持变量");
}

}  // namespace
