// The code page 932 lower-case table, used by the POSIX backend and compared with the Windows
// mapping by the tests.
#include <algorithm>
#include <iterator>

#include "engine/code_page.h"

namespace {

struct LowerCasePair {
    uint16_t upper;
    uint16_t lower;
};

constexpr LowerCasePair lowerCaseTable[] = {
#include "engine/generated/cp932_lower_table.inc"
};

}  // namespace

uint16_t lowerCaseDoubleByte(uint16_t character) {
    const auto* end = std::end(lowerCaseTable);
    const auto* found = std::lower_bound(std::begin(lowerCaseTable), end, character,
                                         [](const LowerCasePair& pair, uint16_t value) { return pair.upper < value; });
    return found != end && found->upper == character ? found->lower : character;
}
