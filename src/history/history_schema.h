// The history file's tables, shared by the panel that writes it and the report that reads it. Times are
// INTEGER milliseconds since 1970-01-01 UTC (history_records.h); an end left NULL is still open, or was
// open when the panel stopped without ending its run (the next start closes it at the run's last sign).
//
// The version in PRAGMA user_version says which form a file has (0 is a file without it, another
// program's): 1 lacked the columns and table marked "since 2", which the panel adds to a file of version 1
// (kUpgradeFrom1) before it writes into it; a reader takes both.
#pragma once

namespace orvanta::history {

inline constexpr int kSchemaVersion = 2;

inline constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS runs (
    run INTEGER PRIMARY KEY,            -- the run's id: its start
    line TEXT NOT NULL,                 -- the plant folder's name
    started INTEGER NOT NULL,
    utc_offset INTEGER NOT NULL,        -- minutes, local time minus UTC at the start
    last_seen INTEGER NOT NULL,         -- the last sign of life, about once a second
    ended INTEGER,                      -- NULL while running or when it never ended orderly
    time_zone TEXT NOT NULL DEFAULT ''  -- since 2: the computer's zone ("Europe/Berlin"), '' unknown
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
    machine INTEGER NOT NULL DEFAULT 0, -- since 2: the own machine 1..5 the slot stands for, else 0
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
)sql"
                                       R"sql(
CREATE TABLE IF NOT EXISTS alarm_texts (  -- since 2: each raised alarm's text in every language of the plant
    text_key TEXT NOT NULL,
    language INTEGER NOT NULL,          -- the language's identifier (1031 German, 1033 English, ...)
    position INTEGER NOT NULL,          -- its place in the plant's list of languages, 1 first
    text TEXT NOT NULL,
    PRIMARY KEY (text_key, language)
);
)sql";

// A file of version 1 made a file of version 2, followed by kSchema for the new table; the columns added
// go last, as they stand in a new file.
inline constexpr const char* kUpgradeFrom1 = R"sql(
ALTER TABLE runs ADD COLUMN time_zone TEXT NOT NULL DEFAULT '';
ALTER TABLE state_intervals ADD COLUMN machine INTEGER NOT NULL DEFAULT 0;
)sql";

}  // namespace orvanta::history
