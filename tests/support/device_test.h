// DeviceTest: the usual GoogleTest fixture for tests of the device object.
// Each test runs in its own temporary working directory holding a freshly
// created "ZRMDevice.db" (empty velta36_event table), with one VELTA36 on a
// TestHost. The device is not configured: call rig.configure(...) first
// when frames must carry the address character.
//
//   class MyTest : public velta36test::DeviceTest {};
//   TEST_F(MyTest, Something) { rig.configure("{}"); ... ReadEventRows() ... }
#ifndef VELTA36_TESTS_SUPPORT_DEVICE_TEST_H
#define VELTA36_TESTS_SUPPORT_DEVICE_TEST_H

#include <gtest/gtest.h>

#include "event_db.h"
#include "frames.h"
#include "temp_work_dir.h"
#include "test_host.h"

namespace velta36test {

// A temporary working directory with the event database already created.
class WorkDirWithDatabase : public TempWorkDir {
public:
    WorkDirWithDatabase() { CreateEventDatabase(); }
};

class DeviceTest : public ::testing::Test {
protected:
    WorkDirWithDatabase workDir;   // first: the device's database lives here
    TestHost rig;
};

}  // namespace velta36test

#endif
