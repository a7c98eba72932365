#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "basics/Log.h"
#include "osc/OSCBundle.h"
#include "osc/OSCByteWriter.h"
#include "osc/OSCMessage.h"
#include "osc/OSCPacket.h"

// A program of its own, because it counts every allocation the process makes while it looks.
#include "support/CountingAllocator.h"

using namespace vitrine;

namespace {

using test::allocationsOf;

std::shared_ptr<OSCMessage> list() {
    auto message = OSCMessage::createWithAddress("/list");
    for (int i = 1; i <= 12; ++i) message->addInt(i);
    return message;
}

}  // namespace

TEST(OSCByteWriter, RefusesAWriteThatDoesNotFitAndEveryWriteAfterIt) {
    struct Case {
        const char* name;
        void (*write)(OSCByteWriter&);
        size_t position;  // where the writer stands afterwards
    };
    const Case cases[] = {
        {"a word into three bytes", [](OSCByteWriter& w) { w.put32(1); }, 0},
        {"a long word after one byte",
         [](OSCByteWriter& w) {
             w.put8(1);
             w.put64(2);
         },
         1},
        {"a string whose NUL has no room", [](OSCByteWriter& w) { w.putPadded("abc", 3, true); },
         0},
        {"a part larger than what is left", [](OSCByteWriter& w) { w.split(4).put8(1); }, 0},
        {"a byte after a refused write",
         [](OSCByteWriter& w) {
             w.put32(1);
             w.put8(2);
         },
         0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> buffer(3, 0xEE);
        OSCByteWriter writer(buffer);
        c.write(writer);
        EXPECT_TRUE(writer.failed()) << c.name;
        EXPECT_FALSE(writer.complete()) << c.name;
        EXPECT_EQ(writer.position(), c.position) << c.name;
        // Nothing but the bytes that fitted before the refusal was touched.
        for (size_t i = c.position; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xEE) << c.name;
    }
}

TEST(OSCByteWriter, PadsStringsPastTheirNulAndBlobsToTheNextWord) {
    std::vector<uint8_t> buffer(12, 0xEE);
    OSCByteWriter writer(buffer);
    writer.putPadded("abcd", 4, true);  // a whole word of NULs after four characters
    writer.putPadded("xy", 2, false);
    writer.padRest();
    EXPECT_TRUE(writer.complete());
    EXPECT_EQ(buffer, (std::vector<uint8_t>{'a', 'b', 'c', 'd', 0, 0, 0, 0, 'x', 'y', 0, 0}));
}

TEST(OSCPacket, ContentThatWritesOtherThanItsLengthBails) {
    // A length of 8 announced, 4 bytes written.
    struct Short : OSCPacketContent {
        int64_t bufferLength() const override { return 8; }
        void writeToBuffer(uint8_t*) const override {}
        void writeTo(OSCByteWriter& out) const override { out.put32(7); }
    };
    LogCapture log;
    EXPECT_EQ(OSCPacket::createWithContent(std::make_shared<Short>()), nullptr);
    EXPECT_EQ(log.lines(),
              std::vector<std::string>{"\t\terr: -[OSCPacket initWithContent:] - BAIL"});
}

TEST(OSCPacket, EncodingABuiltMessageOrBundleAllocatesOnlyThePacket) {
    const auto message = list();
    auto bundle = OSCBundle::create();
    for (int i = 0; i < 10; ++i) bundle->addElement(list());
    std::shared_ptr<OSCPacket> packet;
    EXPECT_EQ(allocationsOf([&] { packet = OSCPacket::createWithContent(message); }), 1u);
    EXPECT_EQ(packet->bufferLength(), 8 + 16 + 48);
    EXPECT_EQ(allocationsOf([&] { packet = OSCPacket::createWithContent(bundle); }), 1u);
    EXPECT_EQ(packet->bufferLength(), 16 + 10 * (4 + 72));
}
