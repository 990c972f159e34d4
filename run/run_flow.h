#pragma once

// Runs one question and at most one action through the front end. Returns the
// closing message that the run ends with, or nullptr when the user quit at the
// question, which ends the run with no message at all.
const char* RunFlow();
