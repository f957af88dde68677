// Text conversion as Windows does it, command-line quoting, and SHA-256 against the
// published test vectors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/utf8.h"
#include "platform/win32.h"
#include "sim/models/machine.h"
#include "sim/models/text.h"
#include "sim/sim.h"
#include "sim/win32/sha256.h"

namespace {

std::vector<std::uint32_t> Units(const wchar_t* text, int count) {
    std::vector<std::uint32_t> out;
    for (int i = 0; i < count; ++i) {
        out.push_back(static_cast<std::uint32_t>(text[i]));
    }
    return out;
}

TEST(SimMultiByteToWideChar, ConvertsUtf8AsWindowsDoes) {
    sim::Machine machine;
    sim::MachineInstall install(machine);
    const struct {
        std::string bytes;
        int count;  // -1: through the terminator
        std::vector<std::uint32_t> units;
    } cases[] = {
        {"abc", 3, {'a', 'b', 'c'}},
        {"abc", -1, {'a', 'b', 'c', 0}},
        {"", -1, {0}},
        {std::string("a\0b", 3), 3, {'a', 0, 'b'}},
        {"\xC3\xA9", 2, {0xE9}},
        {"\xE2\x82\xAC", 3, {0x20AC}},
        {"\xF0\x9F\x98\x80", 4, {0xD83D, 0xDE00}},
        {"\xF4\x8F\xBF\xBF", 4, {0xDBFF, 0xDFFF}},
        // Each maximal ill-formed part becomes one U+FFFD.
        {"a\x80"
         "b",
         3,
         {'a', 0xFFFD, 'b'}},
        {"\xFF", 1, {0xFFFD}},
        {"\xC0\x80", 2, {0xFFFD, 0xFFFD}},
        {"\xED\xA0\x80", 3, {0xFFFD, 0xFFFD, 0xFFFD}},
        {"\xF4\x90\x80\x80", 4, {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
        {"\xE2\x82", 2, {0xFFFD}},
        {"\xE2\x82"
         "A",
         3,
         {0xFFFD, 'A'}},
        {"\xF0\x9F\x98", -1, {0xFFFD, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        const int needed =
            win::MultiByteToWideChar(CP_UTF8, 0, c.bytes.data(), c.count, nullptr, 0);
        EXPECT_EQ(needed, static_cast<int>(c.units.size()));
        std::vector<wchar_t> wide(c.units.size() + 2, L'#');
        const int written = win::MultiByteToWideChar(CP_UTF8, 0, c.bytes.data(), c.count,
                                                     wide.data(), static_cast<int>(wide.size()));
        ASSERT_EQ(written, static_cast<int>(c.units.size()));
        EXPECT_EQ(Units(wide.data(), written), c.units);
        EXPECT_EQ(wide[c.units.size()], L'#');
    }
}

TEST(SimMultiByteToWideChar, RefusesWhatWindowsRefuses) {
    sim::Machine machine;
    sim::MachineInstall install(machine);
    wchar_t wide[8] = {};
    const struct {
        UINT codePage;
        DWORD flags;
        const char* text;
        int count;
        wchar_t* out;
        int outCount;
        DWORD error;
    } cases[] = {
        {1252, 0, "abc", 3, wide, 8, ERROR_INVALID_PARAMETER},
        {CP_UTF8, 8, "abc", 3, wide, 8, ERROR_INVALID_PARAMETER},
        {CP_UTF8, 0, nullptr, 3, wide, 8, ERROR_INVALID_PARAMETER},
        {CP_UTF8, 0, "abc", 0, wide, 8, ERROR_INVALID_PARAMETER},
        {CP_UTF8, 0, "abc", -2, wide, 8, ERROR_INVALID_PARAMETER},
        {CP_UTF8, 0, "abc", 3, nullptr, 8, ERROR_INVALID_PARAMETER},
        {CP_UTF8, 0, "abc", 3, wide, -1, ERROR_INVALID_PARAMETER},
        {CP_UTF8, 0, "abc", 3, wide, 2, ERROR_INSUFFICIENT_BUFFER},
        {CP_UTF8, 0, "abc", -1, wide, 3, ERROR_INSUFFICIENT_BUFFER},
        {CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, wide, 1, ERROR_INSUFFICIENT_BUFFER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.codePage << " " << c.count << " " << c.outCount);
        win::SetLastError(0);
        EXPECT_EQ(win::MultiByteToWideChar(c.codePage, c.flags, c.text, c.count, c.out, c.outCount),
                  0);
        EXPECT_EQ(win::GetLastError(), c.error);
    }
}

TEST(SimText, Utf16ToUtf8ReplacesLoneSurrogates) {
    EXPECT_EQ(utf8::FromUtf16(std::wstring{L'a', static_cast<wchar_t>(0xD83D),
                                           static_cast<wchar_t>(0xDE00), L'b'}),
              "a\xF0\x9F\x98\x80"
              "b");
    EXPECT_EQ(utf8::FromUtf16(std::wstring{static_cast<wchar_t>(0xDE00), L'x'}), "\xEF\xBF\xBDx");
    EXPECT_EQ(utf8::FromUtf16(std::wstring{static_cast<wchar_t>(0xD83D)}), "\xEF\xBF\xBD");
}

TEST(SimText, PrintableLineEscapesControlsAndKeepsEveryByte) {
    const struct {
        const char* name;
        std::string text;
        std::string printed;
    } cases[] = {
        {"plain", "disks[0].drive: \"A\"", "disks[0].drive: \"A\""},
        {"blanks", "a\tb\nc\rd", "a\\tb\\nc\\rd"},
        {"NUL and what follows", std::string("a\0b\0", 4), "a\\u0000b\\u0000"},
        {"escape and DEL", "\x1b[2J\x7f", "\\u001b[2J\\u007f"},
        {"C1 control", "a\xC2\x85z", "a\\u0085z"},
        {"line separator", "a\xE2\x80\xA8z", "a\\u2028z"},
        {"letters beyond ASCII", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
         "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"bytes that are not UTF-8", "a\xFF\xE2\x82z", "a\\xff\\xe2\\x82z"},
        {"backslashes stay", "\\\\?\\pci", "\\\\?\\pci"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sim::PrintableLine(c.text), c.printed);
    }
}

TEST(SimText, CommandLineQuotingRoundTripsThroughWindowsRules) {
    const struct {
        std::wstring argument;
        std::wstring quoted;
    } cases[] = {
        {L"abc", L"abc"},
        {L"", L"\"\""},
        {L"a b", L"\"a b\""},
        {L"a\\b", L"a\\b"},
        {L"a\"b", L"\"a\\\"b\""},
        {L"a b\\", L"\"a b\\\\\""},
        {L"a\\\"b", L"\"a\\\\\\\"b\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sim::QuoteArgument(c.argument), c.quoted);
    }
}

TEST(SimSha256, PublishedVectors) {
    const struct {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrl"
         "m"
         "nopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message.substr(0, 20));
        const std::vector<std::uint8_t> bytes(c.message.begin(), c.message.end());
        EXPECT_EQ(sim::Sha256Hex(bytes), c.digest);
    }
}

TEST(SimSha256, PiecewiseUpdatesMatchOneShot) {
    std::vector<std::uint8_t> bytes(1000);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    // Lengths around the 55/56/64-byte padding boundaries and odd piece sizes.
    for (std::size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 1000u}) {
        const std::span<const std::uint8_t> message(bytes.data(), length);
        const std::string expected = sim::Sha256Hex(message);
        for (std::size_t piece : {1u, 7u, 63u, 64u, 65u}) {
            SCOPED_TRACE(testing::Message() << length << " in pieces of " << piece);
            sim::Sha256 hash;
            for (std::size_t at = 0; at < length; at += piece) {
                hash.Update(message.subspan(at, std::min(piece, length - at)));
            }
            const auto digest = hash.Finish();
            EXPECT_EQ(sim::HexBytes(digest), expected);
        }
    }
}

}  // namespace
