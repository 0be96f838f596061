// The live line page: draws the snapshot the page came with, then every snapshot the panel streams.
// Plain browser JavaScript, served by the program itself; nothing is loaded from anywhere else.
//
// For tests and the page-load figure, the body carries data-seq (the snapshot drawn last), data-stream
// ("connecting", "open" or "lost") and, after the first picture, data-drawn-after-ms (from the first
// byte of the answer to the end of that picture).
'use strict';

(() => {
    const body = document.body;
    const byId = (id) => document.getElementById(id);

    // The stream is made anew after a failure, waiting a little longer each time, up to this.
    const kRetryFirstMs = 500;
    const kRetryMostMs = 4000;
    // Bounds what a snapshot may make the page draw, whatever it holds.
    const kMostTiles = 64;
    const kMostEpisodes = 100;

    const kHandshake = {
        none: 'none',
        published: 'published — waiting for the visualisation',
        echoed: 'shown by the visualisation',
    };

    function element(tag, className, text) {
        const made = document.createElement(tag);
        if (className) made.className = className;
        if (text !== undefined && text !== null) made.textContent = String(text);
        return made;
    }

    // Colours come as "#rrggbb"; anything else is not set, and the page's own grey shows.
    function colour(value) {
        return typeof value === 'string' && /^#[0-9a-fA-F]{6}$/.test(value) ? value : '';
    }

    function text(value) {
        return typeof value === 'string' ? value : '';
    }

    function integer(value) {
        return Number.isInteger(value) ? value : null;
    }

    const two = (n) => String(n).padStart(2, '0');

    // A time of milliseconds since 1970 as the browser's local time, to the second.
    function localTime(ms) {
        if (typeof ms !== 'number' || !Number.isFinite(ms)) return '';
        const t = new Date(ms);
        if (Number.isNaN(t.getTime())) return '';
        return `${t.getFullYear()}-${two(t.getMonth() + 1)}-${two(t.getDate())} ` +
            `${two(t.getHours())}:${two(t.getMinutes())}:${two(t.getSeconds())}`;
    }

    function localDate(t) {
        return `${t.getFullYear()}-${two(t.getMonth() + 1)}-${two(t.getDate())}`;
    }

    function machinesOf(snapshot) {
        return Array.isArray(snapshot.machines) ? snapshot.machines : [];
    }

    // An own machine named by its number 1..5: the name of the first enabled own slot that stands for it.
    function ownMachineName(snapshot, number) {
        const found = machinesOf(snapshot).find(
            (m) => m && m.enabled && !m.foreign && m.number === number && text(m.name) !== '');
        return found ? `${found.name} (machine ${number})` : `machine ${number}`;
    }

    // ---- The line picture ----

    function badge(letter, className, title) {
        const made = element('span', `badge ${className}`, letter);
        made.title = title;
        return made;
    }

    function tile(machine, slot, isReference) {
        const made = element('div', 'tile');
        made.dataset.slot = String(slot);
        if (machine.foreign) made.classList.add('foreign');
        if (isReference) made.classList.add('reference');
        const fill = colour(machine.colour);
        const ink = colour(machine.ink);
        if (fill) made.style.backgroundColor = fill;
        if (ink) made.style.color = ink;

        const head = element('div', 'tile-head');
        head.append(element('span', 'name', text(machine.name)));
        const marks = element('span', 'marks');
        if (isReference) marks.append(badge('◆', 'badge-reference', 'reference machine'));
        if (machine.foreign) marks.append(badge('F', 'badge-foreign', 'foreign: a machine of another line'));
        if (machine.remote) marks.append(badge('R', 'badge-remote', 'remote'));
        head.append(marks);
        made.append(head);

        made.append(element('div', 'co-name', text(machine.coName)));
        made.append(element('div', 'status', text(machine.statusName)));
        const shown = element('div', 'text', text(machine.text));
        const font = text(machine.font).replace(/["\\]/g, '');
        if (font) shown.style.fontFamily = `"${font}", sans-serif`;
        made.append(shown);
        made.title = [machine.name, machine.coName, machine.statusName, machine.text]
            .filter((part) => text(part) !== '').join(' · ');
        return made;
    }

    function column(shown, snapshot, index, drawnSlots) {
        const made = element('section', 'column');
        const group = integer(shown.group);
        made.dataset.group = String(group === null ? -1 : group);
        made.dataset.index = String(index);
        const title = element('h3', 'column-title', text(shown.title));
        made.append(title);
        if (group === null || group < 0) {
            made.classList.add('no-group');
            return made;
        }
        const machines = machinesOf(snapshot);
        const tiles = element('div', 'tiles');
        for (const slot of Array.isArray(shown.machines) ? shown.machines : []) {
            const machine = Number.isInteger(slot) ? machines[slot] : undefined;
            if (!machine || typeof machine !== 'object' || drawnSlots.has(slot) || drawnSlots.size >= kMostTiles)
                continue;
            drawnSlots.add(slot);
            tiles.append(tile(machine, slot, snapshot.referenceMachine === slot));
        }
        made.append(tiles);
        return made;
    }

    function notice(message) {
        return element('p', 'notice', message);
    }

    function drawPicture(snapshot) {
        const picture = byId('picture');
        const parts = [];
        if (snapshot === null) {
            parts.push(notice('No picture of the line yet: the panel has not sent one.'));
        } else if (!snapshot.described) {
            parts.push(notice('No line description: the panel does not know the line it is on.'));
        } else if (!Array.isArray(snapshot.columns) || snapshot.columns.length === 0) {
            parts.push(notice('No display groups: the line has no own machine 1.'));
        } else {
            const drawnSlots = new Set();
            snapshot.columns.slice(0, 6).forEach(
                (shown, index) => parts.push(column(shown || {}, snapshot, index, drawnSlots)));
        }
        picture.replaceChildren(...parts);
        picture.classList.toggle('has-columns', parts.length > 0 && parts[0].classList.contains('column'));
    }

    function drawLegend(snapshot) {
        const legend = byId('legend');
        const entries = snapshot && Array.isArray(snapshot.legend) ? snapshot.legend : [];
        const parts = entries.map((entry) => {
            const item = element('span', 'legend-item');
            const swatch = element('span', 'swatch');
            const fill = colour(entry && entry.colour);
            if (fill) swatch.style.backgroundColor = fill;
            item.append(swatch, element('span', 'legend-label', text(entry && entry.label)));
            return item;
        });
        if (parts.length > 0) {
            for (const [letter, className, label] of [['F', 'badge-foreign', 'foreign'],
                ['R', 'badge-remote', 'remote'], ['◆', 'badge-reference', 'reference machine']]) {
                const item = element('span', 'legend-item');
                item.append(badge(letter, className, label), element('span', 'legend-label', label));
                parts.push(item);
            }
        }
        legend.replaceChildren(...parts);
    }

    // ---- The line's alarm and the recent episodes ----

    function drawLineAlarm(snapshot) {
        const box = byId('line-alarm');
        const alarm = snapshot && snapshot.lineAlarm && typeof snapshot.lineAlarm === 'object'
            ? snapshot.lineAlarm : {state: 'none'};
        const state = Object.hasOwn(kHandshake, alarm.state) ? alarm.state : 'none';
        box.dataset.state = state;
        const parts = [];
        if (state === 'none') {
            parts.push(element('div', 'alarm-none', 'No line alarm.'));
        } else {
            parts.push(element('div', 'alarm-text', text(alarm.text)));
            const facts = element('div', 'alarm-facts');
            facts.append(
                element('span', 'alarm-machine', ownMachineName(snapshot, integer(alarm.machine))),
                element('span', 'alarm-key', `alarm ${integer(alarm.table)}/${integer(alarm.fault)}`),
                element('span', 'alarm-ident', `ident ${integer(alarm.ident)}`),
                element('span', 'alarm-priority', `priority ${integer(alarm.priority)}`));
            parts.push(facts);
        }
        const handshake = element('div', 'handshake');
        handshake.append(element('span', 'handshake-label', 'Handshake: '),
            element('span', 'handshake-state', kHandshake[state]));
        parts.push(handshake);
        box.replaceChildren(...parts);
    }

    function drawEpisodes(snapshot) {
        const rows = byId('episodes').tBodies[0];
        const episodes = snapshot && Array.isArray(snapshot.episodes)
            ? snapshot.episodes.slice(0, kMostEpisodes) : [];
        rows.replaceChildren(...episodes.map((episode) => {
            const row = element('tr');
            const cells = [
                localTime(episode.raised),
                ownMachineName(snapshot, integer(episode.machine)),
                `${integer(episode.table)}/${integer(episode.fault)}`,
                text(episode.text),
                localTime(episode.published),
                localTime(episode.echoed),
                localTime(episode.cleared),
            ];
            row.append(...cells.map((cell) => element('td', '', cell)));
            if (episode.cleared === null || episode.cleared === undefined) row.classList.add('standing');
            return row;
        }));
        byId('episodes').hidden = episodes.length === 0;
        byId('no-episodes').hidden = episodes.length !== 0;
    }

    // ---- Drawing a snapshot: only the parts that changed ----

    // What was drawn, as JSON texts to compare with: the picture's layout, each slot's machine, the
    // alarm and the episodes.
    const drawn = {layout: undefined, machines: [], picture: undefined, alarm: undefined, episodes: undefined};

    // A change of machines only (the usual one: a status, a text) replaces the tiles of those machines;
    // anything else draws the picture anew.
    function drawLinePicture(snapshot) {
        const layout = snapshot === null ? 'null' : JSON.stringify([snapshot.described, snapshot.referenceMachine,
            snapshot.columns, snapshot.legend, Array.isArray(snapshot.machines) && snapshot.machines.length]);
        const machines = machinesOf(snapshot || {}).map((machine) => JSON.stringify(machine));
        if (layout !== drawn.layout) {
            drawPicture(snapshot);
            drawLegend(snapshot);
        } else {
            for (const shown of document.querySelectorAll('#picture [data-slot]')) {
                const slot = Number(shown.dataset.slot);
                if (machines[slot] === drawn.machines[slot]) continue;
                const machine = snapshot.machines[slot];
                if (machine && typeof machine === 'object')
                    shown.replaceWith(tile(machine, slot, snapshot.referenceMachine === slot));
                else
                    shown.remove();
            }
        }
        drawn.layout = layout;
        drawn.machines = machines;
    }

    function draw(snapshot) {
        if (snapshot !== null && (typeof snapshot !== 'object' || Array.isArray(snapshot))) {
            console.warn('live line: a snapshot that is no object is ignored');
            return;
        }
        const picturePart = snapshot === null ? 'null' : JSON.stringify([snapshot.described,
            snapshot.referenceMachine, snapshot.columns, snapshot.machines, snapshot.legend]);
        if (picturePart !== drawn.picture) {
            drawLinePicture(snapshot);
            drawn.picture = picturePart;
        }
        // The alarm names its machine by the picture's names: drawn again when either changed.
        const alarmPart = picturePart + JSON.stringify(snapshot && snapshot.lineAlarm);
        if (alarmPart !== drawn.alarm) {
            drawLineAlarm(snapshot);
            drawn.alarm = alarmPart;
        }
        const episodesPart = picturePart + JSON.stringify(snapshot && snapshot.episodes);
        if (episodesPart !== drawn.episodes) {
            drawEpisodes(snapshot);
            drawn.episodes = episodesPart;
        }

        const disconnected = snapshot !== null && snapshot.described === true && snapshot.connected === false;
        body.classList.toggle('line-disconnected', disconnected);
        byId('line-banner').hidden = !disconnected;
        byId('line-name').textContent = snapshot === null ? '' : text(snapshot.line);
        document.title = snapshot && text(snapshot.line) ? `${snapshot.line} – Orvanta` : 'Orvanta – live line';
        const seq = snapshot === null ? null : integer(snapshot.seq);
        body.dataset.seq = seq === null ? '' : String(seq);
    }

    // ---- The stream ----

    let source = null;
    let retryMs = kRetryFirstMs;
    let retryTimer = null;

    function showStream(state) {
        body.dataset.stream = state;
        byId('stream-banner').hidden = state !== 'lost';
        byId('stream-state').textContent = {connecting: 'connecting…', open: 'live', lost: 'not reachable'}[state];
        byId('stream-state').dataset.state = state;
    }

    function openStream() {
        retryTimer = null;
        source = new EventSource('/events');
        source.onopen = () => {
            retryMs = kRetryFirstMs;
            showStream('open');
        };
        source.onmessage = (event) => {
            let snapshot;
            try {
                snapshot = JSON.parse(event.data);
            } catch (error) {
                console.warn('live line: a snapshot that is no JSON is ignored:', error.message);
                return;
            }
            draw(snapshot);
        };
        // The browser would try again by itself, at its own pace and not after every kind of failure:
        // the page makes the stream anew, soon at first and then less often.
        source.onerror = () => {
            source.close();
            source = null;
            showStream('lost');
            if (retryTimer === null) {
                retryTimer = setTimeout(openStream, retryMs);
                retryMs = Math.min(retryMs * 2, kRetryMostMs);
            }
        };
    }

    // ---- The report form ----

    function setUpReportForm() {
        const today = localDate(new Date());
        const from = byId('report-from');
        const to = byId('report-to');
        from.value = today;
        to.value = today;
        byId('report-form').addEventListener('submit', (event) => {
            if (from.value && to.value && to.value < from.value) {
                event.preventDefault();
                to.setCustomValidity('The period ends before it begins.');
                to.reportValidity();
            }
        });
        to.addEventListener('input', () => to.setCustomValidity(''));
        from.addEventListener('input', () => to.setCustomValidity(''));
        // A period by name replaces the dates: only one of the two is sent, and a select without a name
        // sends nothing.
        const last = byId('report-last');
        const choose = () => {
            last.name = last.value ? 'last' : '';
            from.disabled = to.disabled = last.value !== '';
        };
        last.addEventListener('change', choose);
        choose();
    }

    // ---- The first picture, from the snapshot the page came with ----

    let first = null;
    try {
        first = JSON.parse(byId('snapshot').textContent);
    } catch (error) {
        console.warn('live line: the page came without a snapshot:', error.message);
    }
    draw(first);
    setUpReportForm();
    const navigation = performance.getEntriesByType('navigation')[0];
    const start = navigation ? navigation.responseStart : 0;
    body.dataset.drawnAfterMs = (performance.now() - start).toFixed(1);
    showStream('connecting');
    openStream();
})();
