// Deleted stills whose clusters two later streams took, and the two deleted
// streams whose free clusters interleave: every file whose data is on the card
// comes back byte for byte, no file comes back holding another's data, and
// the stills the streams overwrote are listed, not written.
#include <gtest/gtest.h>

#include <cstdlib>

#include "RestoreJobTestSupport.h"
#include "support/InterleavedCard.h"

namespace {

using namespace RestoreTest;

// The suite's card is small; KALVORY_FULL_INTERLEAVED=1 (scripts/interleaved-card.sh)
// builds the 800-still card with every deleted still overwritten: 402 files.
struct CardSize {
    int stills;
    int intactHoles;
};

CardSize SizeToTest() {
    const char* full = std::getenv("KALVORY_FULL_INTERLEAVED");
    return full != nullptr && *full == '1' ? CardSize{800, 0} : CardSize{120, 6};
}

class InterleavedStreams : public RestoreJobTest, public ::testing::WithParamInterface<int> {};

TEST_P(InterleavedStreams, EveryFileOnTheCardComesBackAndNothingElse) {
    const CardSize size = SizeToTest();
    const TestSupport::InterleavedCard card = TestSupport::BuildInterleavedCard(size.stills, size.intactHoles, 7);
    const fs::path image = dir / "card.img";
    card.image.WriteTo(image);

    Restore::RestoreMain job(GetParam(), Wide(image));
    ASSERT_EQ(job.ResultState(), 0) << AAA::ToUtf8(job.ErrorText());
    const fs::path out = Destination();
    job.SetDestination(Wide(out));
    Completion completion;
    ASSERT_EQ(VerifyNow(job, completion), 0) << AAA::ToUtf8(job.ErrorText());
    ASSERT_EQ(SaveNow(job, completion), 0) << AAA::ToUtf8(job.ErrorText());

    const std::map<std::string, std::string> recovered = FilesUnder(out);
    EXPECT_EQ(recovered.size(), card.expected.size());
    for (const auto& [path, bytes] : card.expected) {
        const auto found = recovered.find(path);
        ASSERT_NE(found, recovered.end()) << path << " was not recovered";
        EXPECT_TRUE(found->second == bytes) << path << " differs";
    }
    for (const auto& [path, bytes] : recovered)
        EXPECT_EQ(card.expected.count(path), 1u) << path << " holds other files' data";

    const Kalvory::KalvoryBase& strategy = *job.Strategy();
    EXPECT_EQ(strategy.OverwrittenCount(), card.overwrittenStills);
    EXPECT_EQ(strategy.PartialFiles(), 0);
    class CommandCollectOverwritten : public FSAccessLib::Command {
    public:
        void Execute(FSAccessLib::DirEntry& entry) override {
            if (entry.overwritten)
                found.push_back(&entry);
        }
        std::vector<const FSAccessLib::DirEntry*> found;
    } overwritten;
    job.Strategy()->Root().Apply(overwritten);
    ASSERT_EQ(static_cast<int>(overwritten.found.size()), card.overwrittenStills);
    for (const FSAccessLib::DirEntry* entry : overwritten.found) {
        EXPECT_TRUE(entry->deleted);
        EXPECT_FALSE(entry->target);
        EXPECT_EQ(entry->matchingBytes, 0u) << "a stream's packets stand where its start was";
    }
}

INSTANTIATE_TEST_SUITE_P(BothDirectoryModes, InterleavedStreams, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 0 ? "Directory" : "DirAndSector"; });

} // namespace
