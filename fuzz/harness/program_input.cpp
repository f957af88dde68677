#include "fuzz/harness/program_input.h"

#include <string>

#include "fuzz/harness/choices.h"

namespace fuzzprogram {

ProgramInput DecodeProgramInput(std::span<const std::uint8_t> data) {
    fuzzinput::Reader reader(data);
    ProgramInput input;
    VisitProgramInput(reader, input);
    return input;
}

Bytes EncodeProgramInput(ProgramInput input) {
    fuzzinput::Writer writer;
    VisitProgramInput(writer, input);
    return writer.Finish();
}

namespace {

template <typename E, std::size_t N>
const char* Name(E value, const char* const (&names)[N]) {
    static_assert(N == static_cast<std::size_t>(E::kCount));
    return names[static_cast<std::size_t>(value)];
}

std::string DriveText(const DriveChoice& d) {
    static const char* const kRevisions[] = {"base", "target", "other"};
    static const char* const kVersions[] = {"1.3", "1.2", "2.0", "1.4", "0.0"};
    static const char* const kSlots[] = {"standard", "only-read-only", "none",
                                         "seven",    "all-writable",   "all-read-only"};
    return std::string("drive{") + Name(d.revision, kRevisions) +
           (d.model == Model::Maker ? "" : " other-model") + " ver " + Name(d.version, kVersions) +
           " fwug " + std::to_string(d.fwug) + (d.upgradeSupport ? "" : " no-upgrade") + " slots " +
           Name(d.slots, kSlots) + (d.immediate ? " immediate" : "") +
           (d.denyOpen ? " deny-open" : "") + "}";
}

std::string Lies(Lie lie, LieAbout about) {
    static const char* const kLies[] = {"", "too-small-forever", "tiny-size", "huge-size"};
    static const char* const kAbout[] = {"parent",   "instance-id",        "hardware-ids",
                                         "location", "driver-description", "interface-detail"};
    return lie == Lie::None ? ""
                            : std::string(" lie ") + Name(lie, kLies) + " " + Name(about, kAbout);
}

std::string ListText(const std::vector<std::uint8_t>& bytes) {
    std::string text(1, '[');
    for (std::uint8_t b : bytes) {
        if (text.size() > 1) {
            text += ' ';
        }
        text += std::to_string(b);
    }
    text += ']';
    return text;
}

std::string ControllerText(std::size_t c, const ControllerChoice& s) {
    static const char* const kIds[] = {"intel-rst", "other-vendor", "unreadable"};
    static const char* const kPaths[] = {"intel", "other-vendor", "not-enumerable"};
    static const char* const kDescriptions[] = {"rst-premium", "intel-raid", "standard-nvme",
                                                "unreadable"};
    std::string text = "controller " + std::to_string(c) + ": id " + Name(s.instanceId, kIds) +
                       ", path " + Name(s.path, kPaths) + ", description " +
                       Name(s.description, kDescriptions) + (s.openable ? "" : ", not openable") +
                       Lies(s.lie, s.lieAbout) + ", raid sets";
    for (const auto& set : s.raidSets) {
        text += ' ';
        text += ListText(set);
    }
    for (const ControllerDrive& drive : s.drives) {
        text += "\n  path " + std::to_string(drive.path) + ": " + DriveText(drive.drive);
    }
    return text + "\n";
}

std::string DiskText(std::size_t d, const DiskChoice& s) {
    static const char* const kAttach[] = {"inbox", "rst", "raid-volume", "other"};
    static const char* const kParents[] = {"maker", "controller", "other-maker", "intel-other",
                                           "unreadable"};
    static const char* const kInstances[] = {"nvme-disk", "raid-volume", "intel-disk", "other-raid",
                                             "unreadable"};
    static const char* const kHardware[] = {"nvme", "raid-volume", "lower-case-nvme", "empty",
                                            "unreadable"};
    static const char* const kLocations[] = {"bus-of-path", "bus",      "negative-bus", "huge-bus",
                                             "no-comma",    "no-token", "unreadable"};
    static const char* const kNumbers[] = {"own-index", "given", "none"};
    return "disk " + std::to_string(d) + ": " + Name(s.attach, kAttach) + " controller " +
           std::to_string(s.controller) + " path " + std::to_string(s.pathId) + ", parent " +
           Name(s.parent, kParents) + ", instance " + Name(s.instanceId, kInstances) +
           ", hardware " + Name(s.hardwareIds, kHardware) + ", location " +
           Name(s.location, kLocations) + " bus " + std::to_string(s.bus) +
           (s.enumerable ? "" : ", no interface") + ", number " + Name(s.deviceNumber, kNumbers) +
           " " + std::to_string(s.number) + (s.openable ? "" : ", not openable") +
           Lies(s.lie, s.lieAbout) + (s.hasDrive ? ", " + DriveText(s.drive) : "") + "\n";
}

std::string AnswerText(const Answer& a) {
    static const char* const kKinds[] = {"any",      "device-number", "identify",   "firmware-info",
                                         "download", "activate",      "raid-config"};
    std::string text = std::string("answer: ") + Name(a.kind, kKinds) +
                       (a.every ? " from " : " #") + std::to_string(a.occurrence) + ":";
    if (a.flags & kReplaceBytes) {
        text += " bytes " + ListText(a.bytes);
    }
    if (a.flags & kStructured) {
        text += " structured " + std::to_string(a.value) + " " + ListText(a.list);
    }
    if (a.flags & kPatch) {
        for (const Patch& p : a.patches) {
            text += " patch@" + std::to_string(p.offset) + " " + ListText(p.bytes);
        }
    }
    if (a.flags & kSetStatus) {
        text += " status " +
                std::to_string(a.status < kStatusCount ? kStatuses[a.status] : a.rawStatus);
    }
    if (a.flags & kSetCount) {
        text += " returned " +
                std::to_string(a.countChoice < kCountCount ? kCounts[a.countChoice] : a.count);
    }
    if (a.flags & kFail) {
        text += " fail " + std::to_string(kErrors[a.error % kErrorCount]);
    }
    return text + "\n";
}

}  // namespace

std::string DescribeProgramInput(const ProgramInput& in) {
    std::string text;
    for (std::size_t c = 0; c < in.controllers.size(); ++c) {
        text += ControllerText(c, in.controllers[c]);
    }
    for (std::size_t d = 0; d < in.disks.size(); ++d) {
        text += DiskText(d, in.disks[d]);
    }
    for (const Answer& a : in.answers) {
        text += AnswerText(a);
    }
    return text;
}

}  // namespace fuzzprogram
