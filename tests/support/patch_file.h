#pragma once
// Patches for the run's tests: the check value of some bytes as a version record holds it, and a
// patch file of payload entries behind a small stub.

#include <array>
#include <string>
#include <vector>

#include "engine/check_value.h"
#include "formats/payload_archive_writer.h"
#include "tests/support/folder.h"

std::array<uint8_t, checkValueSize> checkValueOf(const Bytes& bytes);
// Writes a patch of `entries` to `path`: a 512-byte stub, the payload at its offset.
void writePatchFile(const std::string& path, const std::vector<PayloadEntrySource>& entries);
