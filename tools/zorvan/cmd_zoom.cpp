// zorvan zoom: a recording's automatic zoom plan, as a file a person can read and change.
#include <cstdio>

#include "ZVCommand.h"
#include "Zorvan.h"

namespace {
const char* kName = "zoom";

int run(const std::vector<std::string>& args) {
    std::string recording, output;
    if (auto problem = ZVCommandParse(kName, args,
                                      {{"-o",
                                        [&](const std::optional<std::string>& v) {
                                            output = v.value_or("");
                                            return output.empty() ? "-o needs a plan path"
                                                                  : nullptr;
                                        }}},
                                      "recording", recording))
        return ZVCommandFail(kName, *problem);
    if (output.empty()) output = ZVZoomPlanFile::defaultPath(recording);
    std::string why;
    const auto input = ZVReadRecordedInput(recording, &why);
    if (!input) return ZVCommandFail(kName, why);
    if (auto problem = ZVCommandOutputProblem(output)) return ZVCommandFail(kName, *problem);
    const ZVZoomPlan plan = ZVZoomPlan::automatic(*input);
    if (!ZVZoomPlanFile::write(output, plan, &why)) return ZVCommandFail(kName, why);
    const size_t n = plan.segments().size();
    std::printf("%s: %zu zoom segment%s\n", output.c_str(), n, n == 1 ? "" : "s");
    return 0;
}

const ZVCommand::Registration reg(
    {kName, "write the automatic zoom plan of a recording",
     "usage: zorvan zoom RECORDING [-o PLAN]\n\n"
     "Writes the plan the export camera follows to zoom in on what the user did: a segment\n"
     "for each click or burst of typing, together with the clicks and keys that follow\n"
     "within 2 s, held 1.5 s after the last of them, the camera moving in over the 0.5 s\n"
     "before and out over the 0.5 s after.\n\n"
     "The plan goes to PLAN, by default beside the recording, named after it (for\n"
     "talk.fomixx: talk.zoom.plist in the same folder), replacing what is there. It is an\n"
     "XML property list to read and change: a \"Segments\" list, each segment with \"Start\"\n"
     "and \"End\" (seconds of recording time at full zoom), \"Level\" (1.25 to 4 times\n"
     "closer) and \"Centre\" (\"{x, y}\" in the picture's pixels from its bottom-left corner,\n"
     "or \"follow\": the view follows the pointer when it leaves the middle of the view).\n",
     run});
}  // namespace
