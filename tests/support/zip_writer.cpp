#include "tests/support/zip_writer.h"

#include <cstdint>

namespace {

constexpr std::uint16_t kVersion = 20;
constexpr std::uint16_t kUtf8NamesFlag = 0x0800;
constexpr std::uint32_t kDirectoryAttribute = 0x10;

std::uint32_t Crc32(const std::string& data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

void Put16(std::string& out, std::uint32_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

}  // namespace

std::string MakeStoredZip(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string archive;
    std::string directory;
    for (const auto& entry : entries) {
        const std::string& name = entry.first;
        const std::string& content = entry.second;
        const std::uint32_t crc = Crc32(content);
        const auto size = static_cast<std::uint32_t>(content.size());
        const auto offset = static_cast<std::uint32_t>(archive.size());
        const bool isDirectory = !name.empty() && name.back() == '/';

        Put32(archive, 0x04034b50);
        Put16(archive, kVersion);
        Put16(archive, kUtf8NamesFlag);
        Put16(archive, 0);     // stored
        Put16(archive, 0);     // time
        Put16(archive, 0x21);  // date: 1980-01-01
        Put32(archive, crc);
        Put32(archive, size);
        Put32(archive, size);
        Put16(archive, static_cast<std::uint32_t>(name.size()));
        Put16(archive, 0);
        archive += name;
        archive += content;

        Put32(directory, 0x02014b50);
        Put16(directory, kVersion);
        Put16(directory, kVersion);
        Put16(directory, kUtf8NamesFlag);
        Put16(directory, 0);
        Put16(directory, 0);
        Put16(directory, 0x21);
        Put32(directory, crc);
        Put32(directory, size);
        Put32(directory, size);
        Put16(directory, static_cast<std::uint32_t>(name.size()));
        Put16(directory, 0);  // extra
        Put16(directory, 0);  // comment
        Put16(directory, 0);  // disk
        Put16(directory, 0);  // internal attributes
        Put32(directory, isDirectory ? kDirectoryAttribute : 0);
        Put32(directory, offset);
        directory += name;
    }
    const auto directoryOffset = static_cast<std::uint32_t>(archive.size());
    archive += directory;
    Put32(archive, 0x06054b50);
    Put16(archive, 0);
    Put16(archive, 0);
    Put16(archive, static_cast<std::uint32_t>(entries.size()));
    Put16(archive, static_cast<std::uint32_t>(entries.size()));
    Put32(archive, static_cast<std::uint32_t>(directory.size()));
    Put32(archive, directoryOffset);
    Put16(archive, 0);
    return archive;
}
