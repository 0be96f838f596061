// The history file's tables, shared by the panel that writes it and the report that reads it. Times are
// INTEGER milliseconds since 1970-01-01 UTC (history_records.h); an end left NULL is still open, or was
// open when the panel stopped without ending its run (the next start closes it at the run's last sign).
//
// The version in PRAGMA user_version says which form a file has; a reader refuses a file of another.
#pragma once

namespace orvanta::history {

inline constexpr int kSchemaVersion = 1;

inline constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS runs (
    run INTEGER PRIMARY KEY,            -- the run's id: its start
    line TEXT NOT NULL,                 -- the plant folder's name
    started INTEGER NOT NULL,
    utc_offset INTEGER NOT NULL,        -- minutes, local time minus UTC at the start
    last_seen INTEGER NOT NULL,         -- the last sign of life, about once a second
    ended INTEGER                       -- NULL while running or when it never ended orderly
);
CREATE TABLE IF NOT EXISTS alarm_episodes (
    run INTEGER NOT NULL,
    seq INTEGER NOT NULL,
    machine INTEGER NOT NULL,           -- own machine 1..5
    alarm_table INTEGER NOT NULL,       -- 1 faults, 2 warnings and messages, 3 messages leading the line
    ident INTEGER NOT NULL,
    fault INTEGER NOT NULL,
    text_key TEXT NOT NULL,
    text TEXT NOT NULL,
    priority INTEGER NOT NULL,
    display_status INTEGER NOT NULL,
    raised INTEGER NOT NULL,
    published INTEGER,                  -- first published as the line's alarm
    echoed INTEGER,                     -- the visualisation echoed it
    cleared INTEGER,
    PRIMARY KEY (run, seq)
);
CREATE INDEX IF NOT EXISTS alarm_episodes_raised ON alarm_episodes (raised);
CREATE TABLE IF NOT EXISTS state_intervals (
    run INTEGER NOT NULL,
    seq INTEGER NOT NULL,
    slot INTEGER NOT NULL,              -- machine slot 0..63, or -1 for the line
    name TEXT NOT NULL,
    foreign_machine INTEGER NOT NULL,   -- 1 for a machine of another panel
    status INTEGER NOT NULL,            -- 0 no data, 1 running, 2 warning, 3 message, 4 fault,
                                        -- 5 not connected, 6 maintenance
    cause TEXT NOT NULL,                -- alarm text or message while stopped, else empty
    started INTEGER NOT NULL,
    ended INTEGER,
    PRIMARY KEY (run, seq)
);
CREATE INDEX IF NOT EXISTS state_intervals_started ON state_intervals (started);
CREATE TABLE IF NOT EXISTS gaps (
    run INTEGER NOT NULL,
    seq INTEGER NOT NULL,
    kind TEXT NOT NULL,                 -- 'broker' or 'line'
    started INTEGER NOT NULL,
    ended INTEGER,
    PRIMARY KEY (run, seq)
);
)sql";

}  // namespace orvanta::history
