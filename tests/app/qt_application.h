#pragma once

#include <QApplication>

#include <gtest/gtest.h>

namespace qb {

// One QApplication for a whole test binary (widgets and queued continuations need it).
class QtApplicationEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "qb-test";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance())
            m_app = new QApplication(argc, argv);
    }
    void TearDown() override
    {
        delete m_app;
        m_app = nullptr;
    }

private:
    QApplication* m_app = nullptr;
};

} // namespace qb
