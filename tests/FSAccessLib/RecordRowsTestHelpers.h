#pragma once
// The check every record family shares: a record reads exactly the bytes its
// layout rows name. Seeded random bytes are read into the record with the
// plain block read (no checks), then every field's bytes are compared with
// the bytes at the row's place, so an offset, a width or an order that drifts
// between the rows and the record fails by name.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "AAA_BitReader.h"
#include "AAA_Field.h"
#include "AAA_RecordLayout.h"
#include "AAA_Stream.h"

namespace RecordRowsTest {

// The record with its read order open to the test.
template <class Record>
struct Opened : Record {
    using AAA::Block::Members;
};

inline std::vector<uint8_t> SeededBytes(std::mt19937& random, size_t size) {
    std::vector<uint8_t> bytes(size);
    std::uniform_int_distribution<int> byte(0, 255);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(byte(random));
    return bytes;
}

// `bytes` read member by member, as the record's own read does before its checks.
template <class Record>
void ReadPlain(Opened<Record>& record, const std::vector<uint8_t>& bytes) {
    AAA::MemoryStream stream(bytes.data(), bytes.size());
    AAA::BitReader reader(stream);
    record.AAA::Block::Read(reader);
    ASSERT_EQ(reader.BitsConsumed(), 8 * bytes.size());
}

// The disk bytes a field holds (little-endian integers are kept most significant first).
inline std::vector<uint8_t> DiskBytes(const AAA::FieldBase& field) {
    std::vector<uint8_t> bytes = field.Data();
    if (std::string(field.Kind()) == "LE")
        std::reverse(bytes.begin(), bytes.end());
    return bytes;
}

template <class Record, size_t N>
void ExpectRecordReadsRows(const std::array<AAA::FieldSpan, N>& rows, size_t recordBytes, uint32_t seed) {
    std::mt19937 random(seed);
    for (int round = 0; round < 8; ++round) {
        Opened<Record> record;
        const std::vector<uint8_t> bytes = SeededBytes(random, recordBytes);
        ReadPlain(record, bytes);
        const auto& members = record.Members();
        ASSERT_EQ(members.size(), N);
        for (size_t i = 0; i < N; ++i) {
            const AAA::FieldSpan& row = rows[i];
            SCOPED_TRACE(row.name);
            EXPECT_EQ(members[i]->BitLength(), static_cast<int>(8 * row.bytes));
            if (!members[i]->name.empty()) { // the flag block is unnamed on purpose
                EXPECT_EQ(members[i]->name, row.name);
            }
            const auto* field = dynamic_cast<const AAA::FieldBase*>(members[i]);
            if (field == nullptr)
                continue; // a block of bit fields: its width is all the rows say
            const std::vector<uint8_t> expected(bytes.begin() + static_cast<std::ptrdiff_t>(row.offset),
                                                bytes.begin() + static_cast<std::ptrdiff_t>(row.End()));
            EXPECT_EQ(DiskBytes(*field), expected);
            if (row.bytes <= 8 && std::string(field->Kind()) == "LE") {
                EXPECT_EQ(field->Value64(), AAA::LittleEndianAt(bytes, row));
            }
        }
    }
}

} // namespace RecordRowsTest
