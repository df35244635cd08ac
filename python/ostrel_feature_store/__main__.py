"""Command-line feature builds: a specification file and a data file in, a feature table out.

    python -m ostrel_feature_store SPEC DATA [-o OUT] [--format json|csv]

SPEC is a feature specification (JSON). DATA is either a JSON document mapping each symbol to
its series (a bare candle array or an object with "candles" and optional "reference",
"derivs", "books", "trades", "sections" lists), or a CSV file (by its ".csv" suffix) with a
header naming the columns symbol, ts, open, high, low, close, volume (other columns are
ignored). The table is written to OUT or to standard output, as JSON or CSV (by default the
specification's "output").
"""

from __future__ import annotations

import argparse
import csv
import json
import re
import sys
from typing import Callable, Optional, Sequence, TextIO

CSV_COLUMNS = ("ts", "open", "high", "low", "close", "volume")
# A JSON number literal; CSV fields that are not one are handed on as strings so that the store
# rejects them with its own message.
_JSON_NUMBER = re.compile(r"-?(?:0|[1-9][0-9]*)(?:\.[0-9]+)?(?:[eE][+-]?[0-9]+)?\Z")


class InputError(Exception):
    """Bad input found before the store saw it (unreadable file, CSV without needed columns)."""


def _number_text(field: str) -> str:
    field = field.strip()
    return field if _JSON_NUMBER.match(field) else json.dumps(field)


def csv_to_series(stream: TextIO) -> dict[str, list[str]]:
    """Groups CSV rows by symbol, in order of appearance, as candle JSON texts."""
    reader = csv.reader(stream)
    header = next(reader, None)
    if header is None:
        raise InputError("data: the CSV file is empty")
    names = [h.strip().lower() for h in header]
    missing = [c for c in ("symbol",) + CSV_COLUMNS if c not in names]
    if missing:
        raise InputError("data: the CSV header lacks the column(s) " + ", ".join(missing))
    sym_at = names.index("symbol")
    at = [names.index(c) for c in CSV_COLUMNS]
    width = max(at + [sym_at]) + 1
    out: dict[str, list[str]] = {}
    for line_no, row in enumerate(reader, start=2):
        if not row:
            continue
        if len(row) < width:
            raise InputError(f"data: CSV line {line_no} has {len(row)} fields, expected {width}")
        candle = "[" + ",".join(_number_text(row[i]) for i in at) + "]"
        out.setdefault(row[sym_at], []).append(candle)
    return out


def _symbol_order(symbol: str) -> bytes:
    return symbol.encode("utf-8", "surrogatepass")


def split_json_data(text: str) -> Optional[list[tuple[str, str]]]:
    """The members of the data object as (symbol, raw value text), last duplicate winning and in
    the store's row order; None when the text is not a plain object (the store will say why)."""
    decoder = json.JSONDecoder()
    scan = json.decoder.scanstring  # type: ignore[attr-defined]
    ws = re.compile(r"[ \t\n\r]*")
    try:
        i = ws.match(text, 0).end()  # type: ignore[union-attr]
        if text[i : i + 1] != "{":
            return None
        i = ws.match(text, i + 1).end()  # type: ignore[union-attr]
        members: dict[str, str] = {}
        if text[i : i + 1] == "}":
            return []
        while True:
            if text[i : i + 1] != '"':
                return None
            key, i = scan(text, i + 1)
            i = ws.match(text, i).end()  # type: ignore[union-attr]
            if text[i : i + 1] != ":":
                return None
            i = ws.match(text, i + 1).end()  # type: ignore[union-attr]
            _, end = decoder.raw_decode(text, i)
            members.pop(key, None)
            members[key] = text[i:end]
            i = ws.match(text, end).end()  # type: ignore[union-attr]
            if text[i : i + 1] == ",":
                i = ws.match(text, i + 1).end()  # type: ignore[union-attr]
                continue
            if text[i : i + 1] == "}":
                break
            return None
        return sorted(members.items(), key=lambda kv: _symbol_order(kv[0]))
    except (ValueError, UnicodeError):
        return None


def _command(data_text: str, fmt: Optional[str]) -> str:
    head = '{"cmd":"build_batch"'
    if fmt is not None:
        head += ',"format":' + json.dumps(fmt)
    return head + ',"data":' + data_text + "}"


def _merge(parts: list[str], header: Optional[str]) -> str:
    """Joins per-symbol tables that share their columns into the table of all of them. `header`
    is the CSV header (the table of no data), or None for JSON."""
    if header is not None:
        return header + "".join(p[len(header) :] for p in parts)
    # {"columns":C,"index":[...],"data":[...],"rows":N}. The columns part is the same in every
    # part; the data part holds no quotes, so its start is the last '],"data":[' of each text.
    prefix_end = parts[0].index(',"index":[') + len(',"index":[')
    index, data, rows = [], [], 0
    for p in parts:
        d = p.rindex('],"data":[')
        r = p.rindex('],"rows":')
        if p[prefix_end:d]:
            index.append(p[prefix_end:d])
            data.append(p[d + len('],"data":[') : r])
        rows += int(p[r + len('],"rows":') : -1])
    return (
        parts[0][:prefix_end]
        + ",".join(index)
        + '],"data":['
        + ",".join(data)
        + '],"rows":'
        + str(rows)
        + "}"
    )


def build(
    store,
    data_text: str,
    fmt: Optional[str],
    per_symbol: Optional[list[tuple[str, str]]] = None,
    progress: Optional[Callable[[int, int, str], None]] = None,
) -> str:
    """Builds the table of the data. With `per_symbol`, builds symbol by symbol (reporting
    progress) and joins the results; any failure is answered by one whole build, so that errors
    are exactly those of a single build_batch."""
    if not per_symbol:
        return store.command(_command(data_text, fmt))
    parts = []
    try:
        for n, (symbol, raw) in enumerate(per_symbol, start=1):
            if progress:
                progress(n, len(per_symbol), symbol)
            parts.append(store.command(_command("{" + json.dumps(symbol) + ":" + raw + "}", fmt)))
    except ValueError:
        return store.command(_command(data_text, fmt))
    empty = store.command(_command("{}", fmt))
    return _merge(parts, empty if empty.startswith("symbol,ts") else None)


def _scales(spec_text: str) -> bool:
    """Whether the feature spec scales its columns over the whole table (when unsure: yes)."""
    try:
        spec = json.loads(spec_text)
    except ValueError:
        return True
    if isinstance(spec, dict):
        return spec.get("scaling") is not None
    if isinstance(spec, list):
        return len(spec) > 6 and spec[6] is not None
    return True


def _read(path: str) -> str:
    try:
        if path == "-":
            return sys.stdin.read()
        with open(path, encoding="utf-8") as f:
            return f.read()
    except (OSError, UnicodeDecodeError) as e:
        raise InputError(f"cannot read {path}: {e}") from e


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="ostrel-feature-store",
        description="Build a feature table from a specification and a market data file.",
    )
    parser.add_argument("spec", help="feature specification (JSON file)")
    parser.add_argument("data", help="market data: JSON symbol map, or CSV with a symbol column")
    parser.add_argument("-o", "--output", help="write the table here instead of standard output")
    parser.add_argument("--format", choices=("json", "csv"), help="table format (default: the spec's)")
    args = parser.parse_args(argv)

    from ._ostrel_feature_store import FeatureStore

    try:
        spec_text = _read(args.spec)
        if args.data.lower().endswith(".csv"):
            try:
                with open(args.data, encoding="utf-8", newline="") as f:
                    series = csv_to_series(f)
            except (OSError, UnicodeDecodeError) as e:
                raise InputError(f"cannot read {args.data}: {e}") from e
            per_symbol = sorted(
                ((s, "[" + ",".join(c) + "]") for s, c in series.items()),
                key=lambda kv: _symbol_order(kv[0]),
            )
            data_text = "{" + ",".join(json.dumps(s) + ":" + raw for s, raw in per_symbol) + "}"
        else:
            data_text = _read(args.data)
            per_symbol = None
        store = FeatureStore(spec_text)
        # Progress needs one build per symbol; a whole-table scaling needs every symbol in one.
        show = sys.stderr.isatty() and not _scales(spec_text)
        if show and per_symbol is None:
            per_symbol = split_json_data(data_text)

        def progress(n: int, total: int, symbol: str) -> None:
            sys.stderr.write(f"\r\x1b[Kbuilding {n}/{total}: {symbol}")
            sys.stderr.flush()

        try:
            table = build(store, data_text, args.format, per_symbol if show else None, progress)
        finally:
            if show and per_symbol:
                sys.stderr.write("\r\x1b[K")
                sys.stderr.flush()
    except (ValueError, InputError) as e:
        sys.stderr.write(f"{e}\n")
        return 1

    if args.output:
        with open(args.output, "w", encoding="utf-8", newline="") as f:
            f.write(table)
    else:
        sys.stdout.write(table if table.endswith("\n") else table + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
