"""Results of wavtokeb-cli in Python: TK1 click-data files, the recordings tables and minute
tables beside them, and the tables of the trains and presence commands, as pandas DataFrames
(dicts of numpy arrays where pandas is not installed).

    import wavtokeb
    t = wavtokeb.read_folder("out")          # every TK1 file of an output folder
    t.clicks, t.minutes, t.recordings        # one row per click, per minute, per recording
"""

from ._convert import ConversionError, convert
from ._csvs import read_presence, read_trains
from ._read import TK1Tables, iter_clicks, location_of, read_folder, read_tk1
from ._tk1 import TK1Error

__version__ = "0.1.0"

__all__ = [
    "ConversionError",
    "TK1Error",
    "TK1Tables",
    "convert",
    "iter_clicks",
    "location_of",
    "read_folder",
    "read_presence",
    "read_tk1",
    "read_trains",
]
