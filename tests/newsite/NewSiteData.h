#pragma once

// A Composer stand-in, kept apart from the test class so the meta-object compiler never reads it.

#include <QByteArray>

namespace newsite_data {

// Announces work, starts a helper of its own and then takes its time.
inline const QByteArray slowComposer = R"(#!/usr/bin/env php
<?php
$args = array_values(array_filter(array_slice($argv, 1), fn($a) => $a[0] !== '-'));
@mkdir($args[2], 0755, true);
$helper = proc_open(['sleep', '60'], [], $pipes);
file_put_contents(getenv('PIDS_FILE'), getmypid()."\n".proc_get_status($helper)['pid']);
echo "Package operations: 4 installs, 0 updates, 0 removals\n  - Installing acme/one (1.0.0)\n";
flush();
sleep(60);
)";

} // namespace newsite_data
