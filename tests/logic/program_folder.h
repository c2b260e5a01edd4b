#pragma once

#include "platform/fake/fake.h"
#include "shared/Module1.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
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
        Restart();
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    // A fresh process as far as the program can tell.
    void Restart(bool another_copy_running = false, bool continues_earlier_copy = false) {
        fake::Reset(folder_.string(), another_copy_running, continues_earlier_copy);
        Module1::Reset();
    }

    std::string Ini() const { return (folder_ / "Velmorin.ini").string(); }

    void WriteIni(const std::string& quit, const std::string& chime = "") const {
        std::ofstream(Ini(), std::ios::binary)
            << "[Form]\r\nQuit=" << quit << "\r\n"
            << (chime.empty() ? "" : "[Chime]\r\n" + chime + "\r\n");
    }

    std::filesystem::path folder_;
};
