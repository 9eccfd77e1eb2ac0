#include "shell/outcome.h"

#include "engine/update_result.h"
#include "shell/messages.h"

Outcome outcomeFor(uint32_t result) {
    switch (result) {
        case Ok:
            return {OutcomeBox::Information, completedText};
        case PayloadDamaged:
        case TooManyEntries:
        case 0x80000003u:  // produced by no run, reported like the other damaged-program results
            return {OutcomeBox::Warning, damagedText};
        case FileWriteFailed:
            return {OutcomeBox::Warning, writeFailedText};
        case UninstallListFailed:
            return {OutcomeBox::Warning, uninstallListFailedText};
        default:  // Aborted and Cancelled end silently, as does anything unknown
            return {OutcomeBox::None, nullptr};
    }
}

void showOutcome(uint32_t result) {
    const Outcome outcome = outcomeFor(result);
    if (outcome.box == OutcomeBox::Information) {
        showInformation(outcome.text);
    } else if (outcome.box == OutcomeBox::Warning) {
        showWarning(outcome.text);
    }
}
