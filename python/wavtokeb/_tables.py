"""Columns as numpy arrays, made into pandas DataFrames where pandas is installed and into
dicts of numpy arrays where it is not."""

import datetime

import numpy as np

try:
    import pandas as pd
except ImportError:  # pandas is optional
    pd = None

NAT = np.iinfo(np.int64).min


def have_pandas():
    return pd is not None


class Categorical:
    """Text values as codes into a list of categories (code -1: missing)."""

    def __init__(self, codes, categories):
        self.codes = np.asarray(codes)
        self.categories = list(categories)

    def __len__(self):
        return len(self.codes)

    @classmethod
    def repeat(cls, value, n):
        return cls(np.zeros(n, dtype=np.int32), [value])


class Nullable:
    """Integers with a mask of the missing ones (True: missing)."""

    def __init__(self, values, missing):
        self.values = np.asarray(values)
        self.missing = np.asarray(missing, dtype=bool)

    def __len__(self):
        return len(self.values)


class Times:
    """Nanoseconds since 1970-01-01 (UTC), NAT for a missing time; shown in UTC or at a fixed
    offset (minutes east of UTC)."""

    def __init__(self, ns, offset_minutes=0):
        self.ns = np.asarray(ns, dtype=np.int64)
        self.offset_minutes = offset_minutes

    def __len__(self):
        return len(self.ns)


def _to_pandas(column):
    if isinstance(column, Categorical):
        categories = pd.unique(pd.Series(column.categories, dtype=object))
        if len(categories) != len(column.categories):
            # Two recordings of one name: one category for both.
            where = {c: i for i, c in enumerate(categories)}
            remap = np.array([where[c] for c in column.categories] + [-1], dtype=np.int32)
            codes = remap[column.codes]
        else:
            codes = column.codes
        return pd.Categorical.from_codes(codes, categories=categories)
    if isinstance(column, Nullable):
        return pd.arrays.IntegerArray(column.values, column.missing)
    if isinstance(column, Times):
        utc = pd.arrays.DatetimeArray(
            column.ns.view("datetime64[ns]"), dtype=pd.DatetimeTZDtype(tz="UTC")
        )
        if column.offset_minutes:
            zone = datetime.timezone(datetime.timedelta(minutes=column.offset_minutes))
            return utc.tz_convert(zone)
        return utc
    return column


def _to_numpy(column):
    if isinstance(column, Categorical):
        categories = np.array(list(column.categories) + [None], dtype=object)
        return categories[column.codes]
    if isinstance(column, Nullable):
        return np.ma.MaskedArray(column.values, mask=column.missing)
    if isinstance(column, Times):
        return column.ns.view("datetime64[ns]")
    return column


def frame(columns):
    """A DataFrame of the columns (a dict of numpy arrays without pandas)."""
    if pd is None:
        return {name: _to_numpy(c) for name, c in columns.items()}
    return pd.DataFrame({name: _to_pandas(c) for name, c in columns.items()}, copy=False)


def concat(parts):
    """The columns of several tables of the same columns, one after another."""
    if len(parts) == 1:
        return parts[0]
    out = {}
    for name, first in parts[0].items():
        columns = [p[name] for p in parts]
        if isinstance(first, Categorical):
            categories, codes = [], []
            where = {}
            for c in columns:
                remap = np.empty(len(c.categories) + 1, dtype=np.int32)
                remap[-1] = -1
                for i, value in enumerate(c.categories):
                    remap[i] = where.setdefault(value, len(categories))
                    if remap[i] == len(categories):
                        categories.append(value)
                codes.append(remap[c.codes])
            out[name] = Categorical(np.concatenate(codes), categories)
        elif isinstance(first, Nullable):
            out[name] = Nullable(
                np.concatenate([c.values for c in columns]),
                np.concatenate([c.missing for c in columns]),
            )
        elif isinstance(first, Times):
            out[name] = Times(np.concatenate([c.ns for c in columns]))
        else:
            out[name] = np.concatenate(columns)
    return out
