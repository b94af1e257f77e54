// The language's state and its reset.
#include "LangState.h"

#include "lang/Open.h"
#include "lang/Reset.h"

namespace rt {

LangState& langState() {
    static LangState state;
    return state;
}

void resetLang(std::function<float()> rndSource) {
    Close();
    langState() = LangState{};
    langState().rndSource = std::move(rndSource);
}

} // namespace rt
