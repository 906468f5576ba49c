-- A line's serial numbers and its issue log in PostgreSQL: one number space for every station.
-- Run once by a superuser:
--   psql -v ON_ERROR_STOP=1 -d morven -f /usr/share/morven/morven-line.sql
-- then give each station a login role of its own in the group morven_station:
--   CREATE ROLE station_3 LOGIN IN ROLE morven_station;
-- and the line's lead, who makes counters and loads lists, a role in morven_lists.
--
-- Everything here belongs to morven_owner, a role nobody logs in as: not to the superuser, so
-- the functions' rights end at this schema. Stations write only through the SECURITY DEFINER
-- functions below, and trust nothing a station passes beyond its ports and its own words on
-- the recipe, host and user: the values come from the counter's own first value and step, the
-- station's role and address from the server, and a row's end is written once. Stations can
-- read the counters and how far each list is taken (for --check), and nothing else: no list's
-- values, no issue log, no INSERT, UPDATE or DELETE on any table.

BEGIN;

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'morven_owner') THEN
        CREATE ROLE morven_owner NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'morven_station') THEN
        CREATE ROLE morven_station NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'morven_lists') THEN
        CREATE ROLE morven_lists NOLOGIN;
    END IF;
END
$$;

CREATE SCHEMA morven AUTHORIZATION morven_owner;
REVOKE ALL ON SCHEMA morven FROM PUBLIC;
-- What follows is made by, and so belongs to, the owner role.
SET LOCAL ROLE morven_owner;
GRANT USAGE ON SCHEMA morven TO morven_station, morven_lists;

-- A counter, made by the lead: its rule, first value, step and largest, and its next value.
-- Values are unsigned 64-bit numbers, so numeric of scale 0, never bigint: each value's text is
-- the one canonical form of its number.
CREATE TABLE morven.counter (
    name    text PRIMARY KEY,
    rule    text NOT NULL,
    first   numeric(20, 0) NOT NULL CHECK (first >= 0),
    step    numeric(20, 0) NOT NULL CHECK (step > 0),
    largest numeric(20, 0) NOT NULL CHECK (largest >= first AND largest <= 18446744073709551615),
    next    numeric(21, 0) NOT NULL,
    -- The next value is always one of the counter's own sequence.
    CHECK (next >= first AND (next - first) % step = 0)
);

-- A list: its values in order, and how many are taken. Its rule is set by its first take.
CREATE TABLE morven.list (
    name  text PRIMARY KEY,
    rule  text,
    size  integer NOT NULL,
    taken integer NOT NULL DEFAULT 0 CHECK (taken >= 0 AND taken <= size)
);
CREATE TABLE morven.list_value (
    list     text NOT NULL REFERENCES morven.list,
    position integer NOT NULL,  -- from 1
    value    text NOT NULL,
    PRIMARY KEY (list, position),
    UNIQUE (list, value)
);

-- The issue log: a row for every value handed out, made in the transaction that takes it, and
-- its write's end once the write is over. A row without an outcome is a gap: the value was
-- taken and its write never ended on record (a kill, a power cut, a row that could not be
-- updated yet).
CREATE TABLE morven.issued (
    id            bigserial PRIMARY KEY,
    source        text NOT NULL,  -- 'counter NAME' or 'list NAME'
    value         text NOT NULL,
    port          text NOT NULL,
    recipe        text NOT NULL,  -- the recipe file, or the command line's rule
    recipe_sha256 text,
    host          text NOT NULL,  -- the station's own words
    os_user       text NOT NULL,  -- the station's own words
    station       name NOT NULL DEFAULT session_user,  -- the station's login role
    client_addr   inet DEFAULT inet_client_addr(),     -- NULL over a Unix socket
    issued_at     timestamptz NOT NULL DEFAULT now(),
    ended_at      timestamptz,
    outcome       text,
    status        integer,
    seconds       double precision,
    image_sha256  text,
    -- Whatever happens above, a value stands once in the log.
    UNIQUE (source, value),
    -- A counter's value in its one text form, so that UNIQUE compares numbers.
    CHECK (source NOT LIKE 'counter %' OR value ~ '^(0|[1-9][0-9]*)$'),
    CHECK ((outcome IS NULL) = (ended_at IS NULL) AND (outcome IS NULL) = (status IS NULL))
);
CREATE INDEX issued_value ON morven.issued (value);
CREATE INDEX issued_day ON morven.issued (issued_at);

-- A row changes once: from a gap to its write's end, with an outcome; never after, and never
-- in what was issued.
CREATE FUNCTION morven.issued_end_once() RETURNS trigger LANGUAGE plpgsql
SET search_path = morven, pg_temp AS $$
BEGIN
    IF OLD.outcome IS NOT NULL OR NEW.outcome IS NULL
       OR (NEW.id, NEW.source, NEW.value, NEW.port, NEW.recipe, NEW.recipe_sha256, NEW.host,
           NEW.os_user, NEW.station, NEW.client_addr, NEW.issued_at)
          IS DISTINCT FROM (OLD.id, OLD.source, OLD.value, OLD.port, OLD.recipe,
                            OLD.recipe_sha256, OLD.host, OLD.os_user, OLD.station,
                            OLD.client_addr, OLD.issued_at) THEN
        RAISE EXCEPTION USING ERRCODE = 'MV005', MESSAGE = format(
            'the row of the value %s of the %s is written once, with an outcome',
            OLD.value, OLD.source);
    END IF;
    RETURN NEW;
END
$$;
CREATE TRIGGER issued_end_once BEFORE UPDATE ON morven.issued
    FOR EACH ROW EXECUTE FUNCTION morven.issued_end_once();

-- The ports a take names: one or more, each named.
CREATE FUNCTION morven.gang_size(ports text[]) RETURNS integer LANGUAGE plpgsql
SET search_path = morven, pg_temp AS $$
BEGIN
    IF coalesce(cardinality(ports), 0) < 1 OR array_position(ports, NULL) IS NOT NULL THEN
        RAISE EXCEPTION USING ERRCODE = 'MV010', MESSAGE = 'a take names one port or more';
    END IF;
    RETURN cardinality(ports);
END
$$;

-- The issue log's rows of values taken, one per port, in the transaction that takes them;
-- the values again. The station and its address are the server's, never the caller's.
CREATE FUNCTION morven.issue(row_source text, values_taken text[], ports text[], recipe text,
                             recipe_sha256 text, host text, os_user text)
RETURNS text[] LANGUAGE sql SET search_path = morven, pg_temp AS $$
    INSERT INTO issued (source, value, port, recipe, recipe_sha256, host, os_user, station,
                        client_addr)
        SELECT row_source, values_taken[k], ports[k], issue.recipe, issue.recipe_sha256,
               issue.host, issue.os_user, session_user, inet_client_addr()
        FROM generate_series(1, cardinality(ports)) k;
    SELECT values_taken;
$$;

-- Makes a counter, for the lead: its rule, first value, step and largest. Made again with the
-- same, it stays as it is; with anything else, it is refused. The next value.
CREATE FUNCTION morven.make_counter(counter_name text, counter_rule text, first_value numeric,
                                    counter_step numeric, counter_largest numeric)
RETURNS text LANGUAGE plpgsql SECURITY DEFINER SET search_path = morven, pg_temp AS $$
DECLARE
    found_counter counter;
BEGIN
    IF first_value IS NULL OR counter_step IS NULL OR counter_largest IS NULL
       OR first_value <> trunc(first_value) OR counter_step <> trunc(counter_step)
       OR counter_largest <> trunc(counter_largest) OR first_value < 0 OR counter_step < 1
       OR counter_largest < first_value OR counter_largest > 18446744073709551615 THEN
        RAISE EXCEPTION USING ERRCODE = 'MV007', MESSAGE = format(
            'a counter needs whole numbers: a first value from 0, a step from 1, and a largest '
            'from the first to 2^64 - 1, not %s, %s and %s',
            first_value, counter_step, counter_largest);
    END IF;
    INSERT INTO counter (name, rule, first, step, largest, next)
        VALUES (counter_name, counter_rule, first_value, counter_step, counter_largest,
                first_value)
        ON CONFLICT (name) DO NOTHING;
    SELECT * INTO found_counter FROM counter c WHERE c.name = counter_name;
    IF (found_counter.rule, found_counter.first, found_counter.step, found_counter.largest)
       IS DISTINCT FROM (counter_rule, first_value, counter_step, counter_largest) THEN
        RAISE EXCEPTION USING ERRCODE = 'MV001', MESSAGE = format(
            'the counter %s exists with the rule "%s" (at most %s, next value %s)',
            counter_name, found_counter.rule, found_counter.largest, found_counter.next);
    END IF;
    RETURN found_counter.next::text;
END
$$;

-- Takes one value per port from the counter the lead made. The UPDATE moves the counter for the
-- whole gang by its own step in one statement under the row's lock: a second taker waits for it
-- and then sees the moved counter (READ COMMITTED), or fails with a serialization error and
-- retries (REPEATABLE READ, SERIALIZABLE). The values in order.
CREATE FUNCTION morven.take_counter(counter_name text, counter_rule text, ports text[],
                                    recipe text, recipe_sha256 text, host text, os_user text)
RETURNS text[] LANGUAGE plpgsql SECURITY DEFINER SET search_path = morven, pg_temp AS $$
DECLARE
    n integer := gang_size(ports);
    first_taken numeric;
    step_taken numeric;
    found_counter counter;
BEGIN
    UPDATE counter c SET next = c.next + n * c.step
        WHERE c.name = counter_name AND c.rule = counter_rule
          AND c.next + (n - 1) * c.step <= c.largest
        RETURNING c.next - n * c.step, c.step INTO first_taken, step_taken;
    IF first_taken IS NULL THEN
        SELECT * INTO found_counter FROM counter c WHERE c.name = counter_name;
        IF NOT FOUND THEN
            RAISE EXCEPTION USING ERRCODE = 'MV003', MESSAGE = format(
                'no counter %s is made (the line''s lead makes it: '
                'morven-cli --serial-make-counter)', counter_name);
        ELSIF found_counter.rule <> counter_rule THEN
            RAISE EXCEPTION USING ERRCODE = 'MV001', MESSAGE = format(
                'the counter %s was started with the rule "%s" (next value %s), not "%s"',
                counter_name, found_counter.rule, found_counter.next, counter_rule);
        ELSIF found_counter.next > found_counter.largest THEN
            RAISE EXCEPTION USING ERRCODE = 'MV002', MESSAGE = format(
                'the counter %s has run out: %s does not fit the serial format (at most %s)',
                counter_name, found_counter.next, found_counter.largest);
        END IF;
        RAISE EXCEPTION USING ERRCODE = 'MV002', MESSAGE = format(
            'the counter %s has run out: %s of the %s values needed are left (at most %s)',
            counter_name, floor((found_counter.largest - found_counter.next) / found_counter.step) + 1,
            n, found_counter.largest);
    END IF;
    RETURN issue('counter ' || counter_name,
                 ARRAY(SELECT (first_taken + (k - 1) * step_taken)::text
                       FROM generate_series(1, n) k ORDER BY k),
                 ports, recipe, recipe_sha256, host, os_user);
END
$$;

-- The same for a list: the next values in order, one per port.
CREATE FUNCTION morven.take_list(list_name text, list_rule text, ports text[], recipe text,
                                 recipe_sha256 text, host text, os_user text)
RETURNS text[] LANGUAGE plpgsql SECURITY DEFINER SET search_path = morven, pg_temp AS $$
DECLARE
    n integer := gang_size(ports);
    after integer;
    found_list list;
BEGIN
    UPDATE list l SET taken = l.taken + n, rule = coalesce(l.rule, list_rule)
        WHERE l.name = list_name AND coalesce(l.rule, list_rule) = list_rule
          AND l.taken + n <= l.size
        RETURNING l.taken INTO after;
    IF after IS NULL THEN
        SELECT * INTO found_list FROM list l WHERE l.name = list_name;
        IF NOT FOUND THEN
            RAISE EXCEPTION USING ERRCODE = 'MV003', MESSAGE = format(
                'no list %s is loaded (morven-cli --serial-load-list)', list_name);
        ELSIF found_list.rule <> list_rule THEN
            RAISE EXCEPTION USING ERRCODE = 'MV001', MESSAGE = format(
                'the list %s is taken with the rule "%s", not "%s"',
                list_name, found_list.rule, list_rule);
        END IF;
        RAISE EXCEPTION USING ERRCODE = 'MV002', MESSAGE = format(
            'the list %s is used up: %s of its %s values left, %s needed',
            list_name, found_list.size - found_list.taken, found_list.size, n);
    END IF;
    RETURN issue('list ' || list_name,
                 ARRAY(SELECT v.value FROM list_value v
                       WHERE v.list = list_name AND v.position > after - n
                             AND v.position <= after ORDER BY v.position),
                 ports, recipe, recipe_sha256, host, os_user);
END
$$;

-- A write's end on its row: only on the station's own row, with an outcome, and once. A second
-- call is refused; when it brings the end the row holds (a run sending what an earlier one sent
-- without hearing the answer), with MV009, which the station takes as done.
CREATE FUNCTION morven.record_write(row_source text, row_value text, write_outcome text,
                                    write_status integer, write_seconds double precision,
                                    write_image_sha256 text, write_ended timestamptz)
RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = morven, pg_temp AS $$
DECLARE
    found_row issued;
BEGIN
    IF write_outcome IS NULL OR write_status IS NULL OR write_ended IS NULL THEN
        RAISE EXCEPTION USING ERRCODE = 'MV008', MESSAGE = format(
            'the end of the value %s of the %s needs its outcome, status and time',
            row_value, row_source);
    END IF;
    UPDATE issued i SET outcome = write_outcome, status = write_status,
                        seconds = write_seconds, image_sha256 = write_image_sha256,
                        ended_at = write_ended
        WHERE i.source = row_source AND i.value = row_value AND i.station = session_user
          AND i.outcome IS NULL;
    IF FOUND THEN
        RETURN;
    END IF;
    SELECT * INTO found_row FROM issued i WHERE i.source = row_source AND i.value = row_value;
    IF NOT FOUND THEN
        RAISE EXCEPTION USING ERRCODE = 'MV004', MESSAGE = format(
            'no row for the value %s of the %s', row_value, row_source);
    ELSIF found_row.station <> session_user THEN
        RAISE EXCEPTION USING ERRCODE = 'MV005', MESSAGE = format(
            'the row of the value %s belongs to the station %s', row_value, found_row.station);
    ELSIF (found_row.outcome, found_row.status, found_row.image_sha256)
          IS NOT DISTINCT FROM (write_outcome, write_status, write_image_sha256) THEN
        RAISE EXCEPTION USING ERRCODE = 'MV009', MESSAGE = format(
            'the row of the value %s holds this end already', row_value);
    END IF;
    RAISE EXCEPTION USING ERRCODE = 'MV005', MESSAGE = format(
        'the row of the value %s already holds the outcome "%s"', row_value, found_row.outcome);
END
$$;

-- Loads a list, or the lines appended to one loaded before; the lines loaded already must
-- stand unchanged. How many values it holds now.
CREATE FUNCTION morven.load_list(list_name text, list_values text[])
RETURNS integer LANGUAGE plpgsql SECURITY DEFINER SET search_path = morven, pg_temp AS $$
DECLARE
    loaded integer;
    differs integer;
BEGIN
    INSERT INTO list (name, size) VALUES (list_name, 0) ON CONFLICT (name) DO NOTHING;
    SELECT size INTO loaded FROM list WHERE name = list_name FOR UPDATE;
    IF cardinality(list_values) < loaded THEN
        RAISE EXCEPTION USING ERRCODE = 'MV006', MESSAGE = format(
            'the list %s holds %s values already, more than the file''s %s',
            list_name, loaded, cardinality(list_values));
    END IF;
    SELECT min(v.position) INTO differs FROM list_value v
        WHERE v.list = list_name AND v.value <> list_values[v.position];
    IF differs IS NOT NULL THEN
        RAISE EXCEPTION USING ERRCODE = 'MV006', MESSAGE = format(
            'line %s of the list %s differs from the value loaded (%s)',
            differs, list_name,
            (SELECT value FROM list_value WHERE list = list_name AND position = differs));
    END IF;
    INSERT INTO list_value (list, position, value)
        SELECT list_name, k, list_values[k]
        FROM generate_series(loaded + 1, cardinality(list_values)) k;
    UPDATE list SET size = cardinality(list_values) WHERE name = list_name;
    RETURN cardinality(list_values);
END
$$;

REVOKE ALL ON ALL TABLES IN SCHEMA morven FROM PUBLIC;
REVOKE ALL ON ALL SEQUENCES IN SCHEMA morven FROM PUBLIC;
REVOKE ALL ON ALL FUNCTIONS IN SCHEMA morven FROM PUBLIC;
-- The counters and how far each list is taken; never a list's values.
GRANT SELECT ON morven.counter, morven.list TO morven_station, morven_lists;
GRANT EXECUTE ON FUNCTION morven.take_counter, morven.take_list, morven.record_write
    TO morven_station;
GRANT EXECUTE ON FUNCTION morven.load_list, morven.make_counter TO morven_lists;

RESET ROLE;
COMMIT;
