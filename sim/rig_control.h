// Unplugging and replugging the rig's virtual null-modem cables.
//
// The cable program polls a control file. A writer replaces the file's
// whole content with command lines, each "unplug NAME" or "replug NAME"
// (NAME is a cable letter such as A or B, or "all"); content that does
// not end with a newline is taken as still being written and ignored.
// After acting on a new content the cable program rewrites
// "<control file>.status" with one line per cable, "A plugged" or
// "A unplugged". Both files are replaced by renaming a finished temporary
// file over them, so a reader never sees half a file.
//
// Unplugging closes both pty masters of the cable: programs holding
// either end see a hang-up, and the published links disappear, so
// opening the port fails until it is replugged (with new ptys behind the
// same links).
#pragma once
#include <string>

// Sets cable NAME (one cable) plugged or unplugged through the control
// file at ctlPath and waits up to timeoutMs for the status file to
// confirm it. An empty ctlPath takes the rig's: TAV_RIG_CTL for Windows
// programs, TAV_RIG_CTL_LINUX for native ones.
bool RigSetCable(const std::string& ctlPath, const std::string& cable, bool plugged,
                 int timeoutMs, std::string* error);

// The state of cable NAME from the status file: 1 plugged, 0 unplugged,
// -1 unknown.
int RigCableState(const std::string& ctlPath, const std::string& cable);
