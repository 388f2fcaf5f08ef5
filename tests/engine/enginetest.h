#pragma once
// The engine tests' fixture: the queue tests' one, and a run's work directory lock released with the test.

#include "queuetest.h"
#include "workdir.h"

class EngineTest : public QueueTest {
protected:
    void TearDown() override
    {
        WorkDir::Release();
        QueueTest::TearDown();
    }
};

using EngineLog = LogCapture;

// Every row of a query, each column as text (integers in decimal).
inline std::vector<std::vector<std::string>> QueryRows(const std::string& dbPath, const std::string& sql)
{
    return FrontEnd(dbPath).Rows(sql);
}
