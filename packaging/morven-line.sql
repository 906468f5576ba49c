-- A line's serial numbers and its issue log in PostgreSQL: one number space for every station.
-- Run once by the database's owner:
--   psql -v ON_ERROR_STOP=1 -d morven -f /usr/share/morven/morven-line.sql
-- then give each station a login role of its own in the group morven_station:
--   CREATE ROLE station_3 LOGIN IN ROLE morven_station;
-- and whoever loads lists the role morven_lists.
--
-- Stations write only through the SECURITY DEFINER functions below: they take values (adding
-- their rows to the issue log) and record a write's end on a row of their own, once. They can
-- read the counters and lists (for --check), and nothing else: no INSERT, UPDATE or DELETE on
-- any table, so no station moves a counter back or rewrites another station's rows.

BEGIN;

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'morven_station') THEN
        CREATE ROLE morven_station NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'morven_lists') THEN
        CREATE ROLE morven_lists NOLOGIN;
    END IF;
END
$$;

CREATE SCHEMA morven;
REVOKE ALL ON SCHEMA morven FROM PUBLIC;
GRANT USAGE ON SCHEMA morven TO morven_station, morven_lists;

-- A counter: the rule it was started with, and its next value. Values are unsigned 64-bit
-- numbers, so numeric, never bigint.
CREATE TABLE morven.counter (
    name    text PRIMARY KEY,
    rule    text NOT NULL,
    next    numeric(21, 0) NOT NULL,
    step    numeric(21, 0) NOT NULL CHECK (step > 0),
    largest numeric(21, 0) NOT NULL
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
    host          text NOT NULL,
    os_user       text NOT NULL,
    station       name NOT NULL DEFAULT session_user,  -- the station's database role
    issued_at     timestamptz NOT NULL DEFAULT now(),
    ended_at      timestamptz,
    outcome       text,
    status        integer,
    seconds       double precision,
    image_sha256  text,
    -- Whatever happens above, a value stands once in the log.
    UNIQUE (source, value)
);
CREATE INDEX issued_value ON morven.issued (value);
CREATE INDEX issued_day ON morven.issued (issued_at);

-- The issue log's rows of values taken, one per port, in the transaction that takes them;
-- the values again. Called by the take functions only, as their owner.
CREATE FUNCTION morven.issue(row_source text, values_taken text[], ports text[], recipe text,
                             recipe_sha256 text, host text, os_user text)
RETURNS text[] LANGUAGE sql SET search_path = morven, pg_temp AS $$
    INSERT INTO issued (source, value, port, recipe, recipe_sha256, host, os_user)
        SELECT row_source, values_taken[k], ports[k], issue.recipe, issue.recipe_sha256,
               issue.host, issue.os_user
        FROM generate_series(1, cardinality(ports)) k;
    SELECT values_taken;
$$;

-- Takes one value per port from the counter name, starting it at first_value when it does not
-- exist yet. The UPDATE moves the counter for the whole gang in one statement under the row's
-- lock: a second taker waits for it and then sees the moved counter (READ COMMITTED), or fails
-- with a serialization error and retries (REPEATABLE READ, SERIALIZABLE). The values in order.
CREATE FUNCTION morven.take_counter(counter_name text, counter_rule text, first_value numeric,
                                    counter_step numeric, counter_largest numeric,
                                    ports text[], recipe text, recipe_sha256 text,
                                    host text, os_user text)
RETURNS text[] LANGUAGE plpgsql SECURITY DEFINER SET search_path = morven, pg_temp AS $$
DECLARE
    n integer := cardinality(ports);
    first numeric;
    found_counter counter;
    values_taken text[];
BEGIN
    INSERT INTO counter (name, rule, next, step, largest)
        VALUES (counter_name, counter_rule, first_value, counter_step, counter_largest)
        ON CONFLICT (name) DO NOTHING;
    UPDATE counter c SET next = c.next + n * c.step
        WHERE c.name = counter_name AND c.rule = counter_rule
          AND c.next + (n - 1) * c.step <= c.largest
        RETURNING c.next - n * c.step INTO first;
    IF first IS NULL THEN
        SELECT * INTO found_counter FROM counter c WHERE c.name = counter_name;
        IF found_counter.rule <> counter_rule THEN
            RAISE EXCEPTION USING ERRCODE = 'MV001', MESSAGE = format(
                'the counter %s was started with the rule "%s" (next value %s), not "%s"',
                counter_name, found_counter.rule, found_counter.next, counter_rule);
        END IF;
        IF found_counter.next > found_counter.largest THEN
            RAISE EXCEPTION USING ERRCODE = 'MV002', MESSAGE = format(
                'the counter %s has run out: %s does not fit the serial format (at most %s)',
                counter_name, found_counter.next, found_counter.largest);
        END IF;
        RAISE EXCEPTION USING ERRCODE = 'MV002', MESSAGE = format(
            'the counter %s has run out: %s of the %s values needed are left (at most %s)',
            counter_name, floor((found_counter.largest - found_counter.next) / found_counter.step) + 1,
            n, found_counter.largest);
    END IF;
    SELECT array_agg((first + (k - 1) * counter_step)::text ORDER BY k) INTO values_taken
        FROM generate_series(1, n) k;
    RETURN issue('counter ' || counter_name, values_taken, ports, recipe, recipe_sha256, host,
                 os_user);
END
$$;

-- The same for a list: the next values in order, one per port.
CREATE FUNCTION morven.take_list(list_name text, list_rule text, ports text[], recipe text,
                                 recipe_sha256 text, host text, os_user text)
RETURNS text[] LANGUAGE plpgsql SECURITY DEFINER SET search_path = morven, pg_temp AS $$
DECLARE
    n integer := cardinality(ports);
    after integer;
    found_list list;
    values_taken text[];
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
    SELECT array_agg(v.value ORDER BY v.position) INTO values_taken
        FROM list_value v WHERE v.list = list_name AND v.position > after - n
                                AND v.position <= after;
    RETURN issue('list ' || list_name, values_taken, ports, recipe, recipe_sha256, host,
                 os_user);
END
$$;

-- A write's end on its row: only on the station's own row, and once. The same end sent again
-- (a run sending what an earlier one could not) is no error.
CREATE FUNCTION morven.record_write(row_source text, row_value text, write_outcome text,
                                    write_status integer, write_seconds double precision,
                                    write_image_sha256 text, write_ended timestamptz)
RETURNS void LANGUAGE plpgsql SECURITY DEFINER SET search_path = morven, pg_temp AS $$
DECLARE
    found_row issued;
BEGIN
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
          IS DISTINCT FROM (write_outcome, write_status, write_image_sha256) THEN
        RAISE EXCEPTION USING ERRCODE = 'MV005', MESSAGE = format(
            'the row of the value %s already holds the outcome "%s"', row_value,
            found_row.outcome);
    END IF;
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
REVOKE ALL ON ALL FUNCTIONS IN SCHEMA morven FROM PUBLIC;
GRANT SELECT ON morven.counter, morven.list, morven.list_value TO morven_station;
GRANT EXECUTE ON FUNCTION morven.take_counter, morven.take_list, morven.record_write
    TO morven_station;
GRANT EXECUTE ON FUNCTION morven.load_list TO morven_lists;

COMMIT;
