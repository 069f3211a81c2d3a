// Reads a built-in FAT boot-sector fragment through the record model with the
// trace log on, so a checkout shows the foundation at work without a card.
#include <cstdio>
#include <vector>

#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "AAA_Field.h"
#include "AAA_Stream.h"

namespace {

struct BootSectorStart : AAA::Block {
    AAA::Field::BE jump{24, "JumpBoot"};
    AAA::Field::Str oem{64, "OEMName"};
    AAA::Field::LE sectorSize{16, "SectorSize"};
    AAA::Field::LE sectorsPerCluster{8, "SectorsPerCluster"};

    BootSectorStart() : AAA::Block("PartitionBootSector") { Link(); }
    void Link() override {
        SetMembers({&jump, &oem, &sectorSize, &sectorsPerCluster});
        AAA::Block::Link();
    }
};

} // namespace

int main() {
    AAA::LogThreshold = 8;
    const std::vector<uint8_t> bytes = {0xEB, 0x3C, 0x90, 'K', 'A', 'L', 'V', 'O', 'R', 'Y', ' ', 0x00, 0x02, 0x08};
    AAA::MemoryStream stream(bytes);
    AAA::BitReader reader(stream);
    BootSectorStart boot;
    boot.Read(reader);
    boot.sectorSize.CompareValue(512, "512U", __FILE__, __LINE__);
    boot.sectorsPerCluster.CompareValue(64, "64U", __FILE__, __LINE__);
    try {
        AAA::BitReader pastEnd(stream);
        boot.Read(pastEnd);
    } catch (const AAA::VerifyExceptionBase& error) {
        std::printf("Reading past the end: %s\n", AAA::ToUtf8(error.Message()).c_str());
    }
    return 0;
}
