// Entries of one recovery whose host paths meet are all kept: the later ones
// take numbered names, in walk order, the way a listing shows them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Commands.h"
#include "HostPathPlan.h"
#include "SafeHostPath.h"
#include "FSAccessLib/TreeTestHelpers.h"

namespace {

using FSAccessLib::DirEntry;
using FSAccessLib::HostPathPlanner;
using FSAccessTest::File;
using FSAccessTest::Folder;

// Every entry's assigned path, in walk order.
class CommandAssign : public FSAccessLib::Command {
public:
    void Execute(DirEntry& entry) override { paths.push_back(AAA::ToUtf8(planner.Assign(entry))); }
    HostPathPlanner planner{u"/dst"};
    std::vector<std::string> paths;
};

struct CollisionCase {
    const char* what;
    std::vector<DirEntry> children; // of the root, in order
    std::vector<std::string> expected;
    int renamed;
};

DirEntry With(DirEntry folder, std::vector<DirEntry> children) {
    folder.isDirectory = true;
    folder.children = std::move(children);
    return folder;
}

std::vector<CollisionCase> Cases() {
    return {
        {"distinct names keep theirs", {File(u"A.JPG", 0, 1), File(u"B.JPG", 0, 1)}, {"/dst/A.JPG", "/dst/B.JPG"}, 0},
        {"file after file", {File(u"A.JPG", 0, 1), File(u"A.JPG", 0, 1), File(u"A.JPG", 0, 1)},
         {"/dst/A.JPG", "/dst/A (2).JPG", "/dst/A (3).JPG"}, 2},
        {"ASCII case does not tell names apart", {File(u"a.jpg", 0, 1), File(u"A.JPG", 0, 1)},
         {"/dst/a.jpg", "/dst/A (2).JPG"}, 1},
        {"names made equal by the safe mapping", {File(u"a/b", 0, 1), File(u"a\\b", 0, 1)},
         {"/dst/a_b", "/dst/a_b (2)"}, 1},
        {"folder after a file of its name, with its contents", {File(u"DCIM", 0, 0), With(Folder(u"DCIM"), {File(u"X.JPG", 0, 1)})},
         {"/dst/DCIM", "/dst/DCIM (2)", "/dst/DCIM (2)/X.JPG"}, 1},
        {"file after a folder of its name", {With(Folder(u"DCIM"), {}), File(u"DCIM", 0, 0)},
         {"/dst/DCIM", "/dst/DCIM (2)"}, 1},
        {"two folders of one name merge, their files meet inside",
         {With(Folder(u"100CDPFP"), {File(u"IMGA0001.JPG", 0, 1)}), With(Folder(u"100CDPFP"), {File(u"IMGA0001.JPG", 0, 1)})},
         {"/dst/100CDPFP", "/dst/100CDPFP/IMGA0001.JPG", "/dst/100CDPFP", "/dst/100CDPFP/IMGA0001 (2).JPG"}, 1},
        {"a card name equal to a numbered one is numbered on",
         {File(u"A.JPG", 0, 1), File(u"A.JPG", 0, 1), File(u"A (2).JPG", 0, 1)},
         {"/dst/A.JPG", "/dst/A (2).JPG", "/dst/A (2) (2).JPG"}, 2},
        {"a leading dot is no extension", {File(u".Trashes", 0, 1), File(u".Trashes", 0, 1)},
         {"/dst/.Trashes", "/dst/.Trashes (2)"}, 1},
        {"the report's name is kept for the report", {File(u"KALVORY-REPORT.JSON", 0, 1)},
         {"/dst/KALVORY-REPORT (2).JSON"}, 1},
    };
}

TEST(HostPathPlanner, CollisionsOfOneRunAreNumberedInWalkOrder) {
    for (CollisionCase& c : Cases()) {
        DirEntry root;
        root.children = c.children;
        root.Relink(nullptr);
        CommandAssign assign;
        root.Apply(assign);
        EXPECT_EQ(assign.paths, c.expected) << c.what;
        EXPECT_EQ(assign.planner.RenamedCount(), c.renamed) << c.what;
    }
}

TEST(HostPathPlanner, NumberedNamesStayWithinTheComponentLimit) {
    const AAA::WString longStem(300, u'\u00E9'); // two UTF-8 bytes each
    const AAA::WString numbered = FSAccessLib::NumberedName(longStem + u".JPG", 12, false);
    EXPECT_LE(AAA::ToUtf8(numbered).size(), FSAccessLib::kMaxHostComponentBytes);
    EXPECT_EQ(numbered.substr(numbered.size() - 9), u" (12).JPG");
}

} // namespace
