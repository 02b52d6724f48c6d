#pragma once

#include <QString>

// Moves the calling process into a network namespace of its own with only
// its loopback interface up, so the product's fixed agent address
// (127.0.0.1:6210) is this test's alone: it meets no other engineer's
// simulator or client, and blocks none. Processes it starts share it.
// Without the privilege for a plain namespace, a user namespace is made first.
// Must run before any thread starts (first thing in main). Returns an empty
// string on success, otherwise what failed.
QString enterPrivateNetwork();
