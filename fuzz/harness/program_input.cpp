#include "fuzz/harness/program_input.h"

#include "fuzz/harness/choices.h"

namespace fuzzprogram {

ProgramInput DecodeProgramInput(std::span<const std::uint8_t> data) {
    fuzzinput::Reader reader(data);
    ProgramInput input;
    VisitProgramInput(reader, input);
    return input;
}

std::vector<std::uint8_t> EncodeProgramInput(ProgramInput input) {
    fuzzinput::Writer writer;
    VisitProgramInput(writer, input);
    return writer.Finish();
}

}  // namespace fuzzprogram
