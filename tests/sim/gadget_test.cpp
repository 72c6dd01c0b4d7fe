// The gadget transport against a recorded ep0: what the host would see of the
// model's answers, stalls, restarts and unplugs.
#include "sim/gadget.h"

#include <gmock/gmock.h>

#include "core/bytes.h"
#include "sim_support.h"

namespace pdflash::sim::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class RecordedPort final : public GadgetPort {
 public:
  bool SendData(const uint8_t* data, size_t length) override {
    std::string line = "send";
    for (size_t i = 0; i < length; ++i) line.append(" ").append(HexText(data[i], 2));
    stages.push_back(line);
    return true;
  }
  bool ReceiveData(uint8_t* data, size_t length) override {
    stages.push_back("receive " + std::to_string(length));
    for (size_t i = 0; i < length; ++i) data[i] = out_data.at(i);
    return true;
  }
  bool Acknowledge() override {
    stages.push_back("ack");
    return true;
  }
  void Stall() override { stages.push_back("stall"); }
  bool Attach(const GadgetIds& ids, std::string&) override {
    stages.push_back("attach " + HexText(ids.vid, 4) + ":" + HexText(ids.pid, 4) + " " +
                     HexText(ids.bcd_device, 4) + (ids.rom ? " rom" : " app"));
    return true;
  }
  void Detach() override { stages.push_back("detach"); }

  std::vector<std::string> Take() { return std::exchange(stages, {}); }

  std::vector<std::string> stages;
  Bytes out_data;
};

struct GadgetFixture {
  explicit GadgetFixture(const std::string& ini) : board(ini) {
    board.Run();
    server = std::make_unique<GadgetServer>(*board.bus, 0, port,
                                            [this](const std::string& l) { lines.push_back(l); });
    std::string error;
    EXPECT_TRUE(server->Start(error)) << error;
  }
  Board board;
  RecordedPort port;
  std::vector<std::string> lines;
  std::unique_ptr<GadgetServer> server;
};

constexpr uint8_t kIn = 0xC0, kOut = 0x40;

TEST(GadgetServer, AttachesUnderTheBoardsIdsAndBcdDevice) {
  GadgetFixture g("[Device]\nAppVID=1234\nAppPID=5678\nBcdDevice=0321\n");
  EXPECT_THAT(g.port.Take(), ElementsAre("attach 1234:5678 0321 app"));
  EXPECT_TRUE(g.server->Attached());
}

// Each request as the host sends it, and the stages FunctionFS is asked for.
struct RequestCase {
  const char* name;
  SetupPacket setup;
  Bytes out_data;
  std::vector<std::string> stages;
};

TEST(GadgetServer, AnswersWhatTheModelAnswersAndStallsWhatItFails) {
  const RequestCase cases[] = {
      {"version", {kIn, 0xE2, 0x0001, 0, 4}, {}, {"send 00 00 00 00"}},
      {"register read", {kIn, 0xE0, 0x1801, 0, 1}, {}, {"send C0"}},
      {"register write", {kOut, 0xE0, 0x0002, 0x30, 1}, {0x5A}, {"receive 1"}},
      {"read back", {kIn, 0xE0, 0x0001, 0x30, 1}, {}, {"send 5A"}},
      {"version with a wrong length", {kIn, 0xE2, 0x0001, 0, 2}, {}, {"stall"}},
      {"unknown IN request", {kIn, 0x77, 0, 0, 8}, {}, {"stall"}},
      {"unknown command", {kOut, 0x77, 0, 0, 0}, {}, {"stall"}},
      {"standard type", {0x80, 0xE2, 0x0001, 0, 4}, {}, {"stall"}},
  };
  GadgetFixture g("[Device]\n");
  g.port.Take();
  for (const RequestCase& c : cases) {
    g.port.out_data = c.out_data;
    g.server->Setup(c.setup);
    EXPECT_THAT(g.port.Take(), ElementsAreArray(c.stages)) << c.name;
  }
  EXPECT_EQ(g.board.bus->Device(0).PeekRegister(0x3000), 0x5A);
  EXPECT_EQ(g.server->Stalls(), 4u);
}

TEST(GadgetServer, AFailedOutTransferStallsBeforeItsDataStage) {
  GadgetFixture g("[Device]\nFailTransfer=2\n");
  g.port.Take();
  g.port.out_data = {0x11};
  g.server->Setup({kOut, 0xE0, 0x0002, 0x30, 1});  // transfer 1
  g.port.out_data = {0x22};
  g.server->Setup({kOut, 0xE0, 0x0002, 0x30, 1});  // transfer 2 fails
  g.server->Setup({kIn, 0xE0, 0x0001, 0x30, 1});   // transfer 3
  EXPECT_THAT(g.port.Take(), ElementsAre("receive 1", "stall", "send 11"));
}

TEST(GadgetServer, AJumpToRomCodeIsADisconnectAndAReconnectUnderTheRomIds) {
  GadgetFixture g("[Device]\nReenumerationDelay=1F4\n");
  g.port.Take();
  g.server->Setup({kOut, 0xA0, 0, 0, 0});
  g.server->Setup({kOut, 0xB0, 0, 0, 0});
  EXPECT_THAT(g.port.Take(), ElementsAre("ack", "ack", "detach"));
  EXPECT_FALSE(g.server->Attached());
  EXPECT_GT(g.server->PollDelayMs(), 0);

  g.board.clock.Advance(499'000);
  g.server->Poll();
  EXPECT_TRUE(g.port.Take().empty()) << "back before the re-enumeration delay";
  g.board.clock.Advance(1'000);
  g.server->Poll();
  EXPECT_THAT(g.port.Take(), ElementsAre("attach 2109:1107 0100 rom"));
  g.server->Setup({kIn, 0xE2, 0x0001, 0, 4});
  EXPECT_THAT(g.port.Take(), ElementsAre("send 35 00 01 00"));
  // A restart from ROM code (no valid copy to start) comes back the same way.
  g.server->Setup({kOut, 0xB0, 0, 0, 0});
  g.board.clock.Advance(500'000);
  g.server->Poll();
  EXPECT_THAT(g.port.Take(), ElementsAre("ack", "detach", "attach 2109:1107 0100 rom"));
  g.lines.resize(3);
  EXPECT_THAT(g.lines, ElementsAre(::testing::HasSubstr("on the bus as 2109:0107"),
                                   "restart: off the bus",
                                   ::testing::HasSubstr("back on the bus as 2109:1107")));
}

TEST(GadgetServer, AnUnplugTakesTheDeviceOffTheBusForGood) {
  GadgetFixture g("[Device]\nUnplugAtTransfer=2\n");
  g.port.Take();
  g.server->Setup({kIn, 0xE0, 0x1801, 0, 1});
  g.port.out_data = {0x01};
  g.server->Setup({kOut, 0xE0, 0x0002, 0x30, 1});
  EXPECT_THAT(g.port.Take(), ElementsAre("send C0", "detach"));
  EXPECT_TRUE(g.server->Gone());
  g.board.clock.Advance(10'000'000);
  g.server->Poll();
  g.server->Setup({kIn, 0xE0, 0x1801, 0, 1});
  EXPECT_THAT(g.port.Take(), ElementsAre("stall"));
  EXPECT_EQ(g.lines.back(), "unplugged at transfer 2: off the bus until pdsim gadget ends");
}

TEST(GadgetServer, FunctionFsBlobsAskForDeviceRequestsAndABillboardInterface) {
  const Bytes d = FunctionFsDescriptors();
  ASSERT_EQ(d.size(), 12u + 12u + 3 * 9u);
  EXPECT_EQ(Le32(&d[0]), 3u);  // descriptors, version 2
  EXPECT_EQ(Le32(&d[4]), d.size());
  EXPECT_EQ(Le32(&d[8]), 1u | 2u | 4u | 64u | 128u);
  for (size_t at = 24; at < d.size(); at += 9)
    EXPECT_THAT(Bytes(d.begin() + at, d.begin() + at + 9),
                ElementsAre(9, 0x04, 0, 0, 0, 0x11, 0, 0, 0));
  EXPECT_THAT(FunctionFsStrings(), ElementsAre(2, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
}

}  // namespace
}  // namespace pdflash::sim::test
