#pragma once

#include "platform/fake/fake.h"
#include "shared/Module1.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>

// Each test gets a program folder of its own on disk, so the settings file is a real file.
class ProgramFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("velmorin-logic-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        fake::Reset(folder_.string());
        // Each test is a fresh process as far as the program can tell.
        Module1::chime_latch = 0;
        Module1::settings_path.clear();
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string Ini() const { return (folder_ / "Velmorin.ini").string(); }

    std::string IniText() const {
        std::ifstream in(Ini(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    void WriteIni(const std::string& text) const { std::ofstream(Ini(), std::ios::binary) << text; }

    std::filesystem::path folder_;
};
