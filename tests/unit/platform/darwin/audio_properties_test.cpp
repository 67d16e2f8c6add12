#include "platform/darwin/audio_properties.h"
#include "unit/audio/audio_fixture.h"

using namespace platform::darwin;

namespace {

using sim::audio::ListFailure;
using sim::audio::Process;

TEST(FourCharCode, PutsTheFirstCharacterInTheTopByte) {
  EXPECT_EQ(property::processObjectList, 0x70727323u);
  EXPECT_EQ(property::processPid, 0x70706964u);
  EXPECT_EQ(property::processIsRunningInput, 0x70697269u);
  EXPECT_EQ(property::defaultInputDevice, 0x64496e20u);
  EXPECT_EQ(property::deviceIsRunningSomewhere, 0x676f6e65u);
  const AudioObjectPropertyAddress where = address(property::processPid);
  EXPECT_EQ(where.mSelector, property::processPid);
  EXPECT_EQ(where.mScope, 0x676c6f62u);
  EXPECT_EQ(where.mElement, 0u);
}

class PropertiesTest : public AudioWorld {};

// A failed read is absent, which a value of 0 is not.
TEST_F(PropertiesTest, ReadUInt32TellsFailureFromZero) {
  sim::audio::setProcesses({Process{10, 0, 0u}, Process{11, std::nullopt, std::nullopt}});
  EXPECT_EQ(readUInt32(10, property::processPid), std::optional<std::uint32_t>(0));
  EXPECT_EQ(readUInt32(10, property::processIsRunningInput), std::optional<std::uint32_t>(0));
  EXPECT_EQ(readUInt32(11, property::processPid), std::nullopt);
  EXPECT_EQ(readUInt32(11, property::processIsRunningInput), std::nullopt);
  EXPECT_EQ(readUInt32(12, property::processPid), std::nullopt);  // no such object
  EXPECT_EQ(sim::audio::lastReadSize(property::processPid), 4u);
  sim::audio::setDefaultInputDevice(0);
  EXPECT_EQ(readUInt32(systemObject, property::defaultInputDevice),
            std::optional<std::uint32_t>(0));
  sim::audio::setDefaultInputDevice(std::nullopt);
  EXPECT_EQ(readUInt32(systemObject, property::defaultInputDevice), std::nullopt);
}

struct ListCase {
  const char* name;
  std::vector<AudioObjectID> listed;
  UInt32 extraBytes = 0;
  ListFailure failure = ListFailure::none;
  std::size_t removedDuringRead = 0;  // taken from the end between the two calls
  std::vector<AudioObjectID> expected;
  long dataReads = 1;
  UInt32 readSize = 0;  // the bound the data read was given
};

const ListCase listCases[] = {
    {"Whole", {7, 8, 9}, 0, ListFailure::none, 0, {7, 8, 9}, 1, 12},
    {"EmptyNeedsNoRead", {}, 0, ListFailure::none, 0, {}, 0, 0},
    {"SizeQueryFails", {7, 8}, 0, ListFailure::sizeQuery, 0, {}, 0, 0},
    {"ReadFails", {7, 8}, 0, ListFailure::read, 0, {}, 1, 8},
    {"PartialIdIsDroppedAndNeverWritten", {7, 8}, 3, ListFailure::none, 0, {7, 8}, 1, 8},
    {"LessThanOneIdIsEmpty", {}, 3, ListFailure::none, 0, {}, 0, 0},
    {"ShrunkListKeepsItsAnnouncedLength", {7, 8, 9}, 0, ListFailure::none, 2, {7, 0, 0}, 1, 12},
    {"ListEmptiedDuringReadIsAllZero", {7}, 0, ListFailure::none, 1, {0}, 1, 4},
};

// Failures name the case rather than dumping its bytes.
void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }

class ReadObjectIds : public AudioWorld, public ::testing::WithParamInterface<ListCase> {};

TEST_P(ReadObjectIds, AnswersWholeIdsOnly) {
  const ListCase& c = GetParam();
  std::vector<Process> processes;
  for (AudioObjectID id : c.listed) processes.push_back(Process{id, 100, 0u});
  sim::audio::setProcesses(processes);
  sim::audio::setListExtraBytes(c.extraBytes);
  sim::audio::setListFailure(c.failure);
  sim::audio::setHook([&c](sim::audio::Moment moment) {
    if (moment != sim::audio::Moment::listRead) return;
    auto now = sim::audio::processes();
    for (std::size_t i = 0; i < c.removedDuringRead; ++i) now.pop_back();
    sim::audio::setProcesses(now);
  });
  EXPECT_EQ(readObjectIds(systemObject, property::processObjectList), c.expected);
  EXPECT_EQ(sim::audio::reads(property::processObjectList), c.dataReads);
  EXPECT_EQ(sim::audio::lastReadSize(property::processObjectList), c.readSize);
}

INSTANTIATE_TEST_SUITE_P(Lists, ReadObjectIds, ::testing::ValuesIn(listCases),
                         [](const auto& test) { return std::string(test.param.name); });

// The reused buffer is emptied by a failure, not left with the last list.
TEST_F(PropertiesTest, ReusedBufferHoldsOnlyTheLatestList) {
  std::vector<AudioObjectID> ids;
  sim::audio::setProcesses({Process{7, 100, 0u}, Process{8, 100, 0u}});
  readObjectIds(systemObject, property::processObjectList, ids);
  EXPECT_EQ(ids, (std::vector<AudioObjectID>{7, 8}));
  sim::audio::setListFailure(ListFailure::read);
  readObjectIds(systemObject, property::processObjectList, ids);
  EXPECT_TRUE(ids.empty());
  sim::audio::setListFailure(ListFailure::none);
  sim::audio::setProcesses({Process{9, 100, 0u}});
  readObjectIds(systemObject, property::processObjectList, ids);
  EXPECT_EQ(ids, (std::vector<AudioObjectID>{9}));
}

}  // namespace
