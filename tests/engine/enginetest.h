#pragma once
// Shared pieces of the engine tests: a configuration store published in
// g_pConfigModul over a scratch directory, and the front end's own reading
// of a database file. Scratch directory and log capture come from tests/common.

#include "logcapture.h"
#include "scratchdir.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <string>
#include <vector>

class ConfigModul;

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void SetParm(const std::string& key, const std::string& value);

    ScratchDir m_dir;
    ConfigModul* m_pConfig = nullptr;
};

using EngineLog = LogCapture;

// Every row of a query, each column as text (integers in decimal).
std::vector<std::vector<std::string>> QueryRows(const std::string& dbPath, const std::string& sql);
