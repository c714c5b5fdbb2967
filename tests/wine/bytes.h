// Whole files as bytes, for the Wine test programs and the Wine benchmark.
#pragma once

#include <string>

// The file's bytes; empty when it cannot be read.
std::string ReadBytes(const std::wstring& path);
// Replaces the file with `bytes`; false when any of them did not reach it.
bool WriteBytes(const std::wstring& path, const std::string& bytes);
