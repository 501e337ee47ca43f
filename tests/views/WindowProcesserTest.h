#pragma once

#include <memory>
#include <string>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "data/VDDataManager.h"

namespace vd::test {

// A test whose window's processor is registered under an id of its own and removed again when
// the test ends. Lists and sections reload through the queued hops of their observers;
// settle() lets those run.
class WindowProcesserTest : public ::testing::Test {
protected:
    ~WindowProcesserTest() override { VDDataManager::sharedInstance().removeId(idString); }

    static void settle()
    {
        for (int i = 0; i < 4; ++i)
            QCoreApplication::processEvents();
    }

    const std::string idString = freshId();
    const std::shared_ptr<VDDataProcesser> processer = VDDataManager::sharedInstance().bindProcesserId(idString);

private:
    static std::string freshId()
    {
        static int count = 0;
        return "TEST-WINDOW-" + std::to_string(++count);
    }
};

} // namespace vd::test
