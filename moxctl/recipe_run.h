// SPDX-License-Identifier: GPL-3.0-or-later
// moxctl run: a test recipe's plan (recipe/recipe.h) on the card, one line
// per step, then the safe state whatever happened, and the reports: every
// check of the plan with its measured value, limits and unit, or why it was
// not measured.
#pragma once

#include "card.h"
#include "recipe.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace moxctl {

struct CheckResult {
    std::string id, text, what; // what: "AI0 mean of 10"
    std::string unit, limits;   // "V", "1.95..2.05 V"
    std::optional<double> low, high;
    int line = 0;
    bool ran = false;
    bool passed = false;
    bool error = false;          // the card failed or the run was stopped while it measured
    std::optional<double> value; // none when it was not measured
    std::string message;         // why it failed, or was not run
    double seconds = 0;
};

struct StepRecord {
    int index = 0; // 1.. in the plan
    int line = 0;  // in the recipe
    std::string description;
    std::string result; // "ok", "PASS 2.001 V", "FAIL ...", "ERROR ..."
};

enum class RunOutcome { Passed, Failed, CardError, Stopped };

struct RunReport {
    std::string program, recipe, name, setup, started;
    int planned = 0;               // steps in the plan
    std::vector<StepRecord> steps; // those that ran, in order
    std::vector<CheckResult> checks;
    RunOutcome outcome = RunOutcome::Passed;
    std::string fault; // the card's fault, or the stop
    bool safeReached = false;
    std::vector<std::string> safeSteps; // "DA0 = 0 V (code 800): ok"
    int Failed() const;
};

// Runs the plan on `card`, printing each step to `out`. The safe state is
// written at the end in every case; a stop request (g_stop) ends the steps.
RunReport Execute(Card& card, const mox::recipe::Plan& plan, std::FILE* out);

std::string RunSummary(const RunReport& report);
std::string RunJson(const RunReport& report);
std::string RunJUnit(const RunReport& report);

// The plan as --dry-run prints it.
std::string PlanText(const mox::recipe::Plan& plan);

struct RunOptions {
    std::string recipe;
    bool dryRun = false;
    std::string json, junit; // report files, when named
};
// The whole command: 0 passed, 1 a check failed or the run was stopped,
// 2 a bad recipe or report path (refused before the card), 4 the card
// failed mid-run or the safe state was not confirmed.
int RunRecipe(const RunOptions& options);

} // namespace moxctl
