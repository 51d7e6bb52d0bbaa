#pragma once
// Staged rollout: a release's manifest may say in [Version] ROLLOUT=<0-100>
// which share of the installations a silent update installs it on; without
// the key, every one (a client that knows nothing of it installs as before).
// Each installation draws one number 0-9999 at random the first time a
// partial rollout reaches it and keeps it in UserConfig.dat [Rollout] Draw,
// so raising the percentage only ever adds installations. The number comes
// from the system's random generator, never from the user or the machine.
// The update dialog (a person asking) is offered every release.
#include <string>

constexpr char kRolloutKey[] = "ROLLOUT";
constexpr unsigned kRolloutDraws = 10000;   // draws are 0 .. kRolloutDraws - 1

// nPercent := the value of ROLLOUT: decimal digits only, 0-100. False otherwise.
bool ParseRolloutPercent(const std::string& strValue, unsigned& nPercent);

// True when an installation with this draw is inside the rollout.
inline bool RolloutAdmits(unsigned nPercent, unsigned nDraw) { return nDraw < nPercent * (kRolloutDraws / 100); }

// nDraw := this installation's number from strAppPath's UserConfig.dat (ending
// in '\'), drawn and stored there when it has none. False when a new number
// could not be kept: nDraw is then the last draw there is, which only a full
// rollout reaches, so that an installation is never in and out by turns.
bool ReadRolloutDraw(const std::string& strAppPath, unsigned& nDraw);
