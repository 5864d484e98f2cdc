// Field scenes: duty-cycled recordings of what a hydrophone on the sea floor meets, drawn from
// the geometry and the sources rather than from the shapes of trains, with the truth about
// every recorded minute in the format of the basic scenes (scenes.h).
//
// The water: a depth of 8-40 m, the hydrophone 2-20 m deep, a surface and a bottom that reflect
// a share of every pulse. A pulse reaches the hydrophone directly and as an echo from each,
// later by the difference of the paths (a fraction of a millisecond for a distant animal, some
// milliseconds for a near one) and at the level its source sends that way.
//
// Levels are in dB re 1 uPa (peak); full scale (32767 counts) is 168-180 dB as the recorder's
// gain is set (kFieldClipDb at the lowest gain), so the loudest clicks clip. Spreading loss is 20
// log10 r, absorption 0.04 dB/m at porpoise frequencies.
//
// - Porpoises (NBHF): a group of 1-4 animals passes at 2-800 m at the closest (a fifth come to
//   look at the hydrophone, near and facing it), each with its
//   own source level (175-199 dB peak), peak frequency (120-145 kHz), click length
//   (50-180 us) and depth. An animal scans: its head swings to and fro, so the hydrophone
//   hears each click at its own angle off the animal's axis (a beam of 16 degrees at -3 dB,
//   20-26 dB down off it); clicks heard off the axis are weaker, lower in frequency and carry a
//   second pulse. Trains are fast (15-30 ms), searching (30-100 ms) or slow (100-250 ms), of
//   5-10 clicks or up to 300, their interval drifting and jittering; a quarter end in a buzz
//   whose interval falls to 1.5-5 ms.
// - Dolphins: groups of 2-12 with broadband clicks of a few cycles peaking at 30-120 kHz,
//   louder than porpoises, some with a second band at 105-130 kHz; off the axis lower and
//   longer. Trains of 10-300 clicks at 20-200 ms, and burst pulses at 2-8 ms.
// - Vessels passing, their engine's noise rising and falling with the distance and beating at
//   the blade rate; many run echosounders at 38, 50, 120, 130 or 200 kHz pinging every
//   0.1-2 s (some two frequencies at once, some a fast side-looking sonar at 30-80 ms and
//   100-140 kHz), whose level follows the vessel's distance; some sounders are moored and
//   steady. A bottom echo follows each ping.
// - Snapping shrimp: single snaps at random times, up to hundreds a second, of any level.
// - Background noise of 2-30 counts RMS that wanders from one recording to the next.
//
// Frequencies at or above 0.45 of the sample rate are not recorded (a recorder's anti-alias
// filter removes them): at 384 k samples/s a 200 kHz sounder is not heard.
#pragma once

#include <cstdint>

#include "synth/scenes.h"

namespace wtk::synth {

// The received level (dB re 1 uPa, peak) of full scale, 32767 counts, at the lowest gain.
inline constexpr double kFieldClipDb = 180;
// Counts of a received level where full scale is clipDb: 32767 x 10^((dB - clipDb) / 20).
double CountsOfLevel(double dbPeak, double clipDb);

// The truth of the field scenes: a porpoise click is audible when its amplitude is at least
// kFieldAudibleOverNoise times the noise RMS at its time (the background and the vessels) and
// kFieldAudibleFloor counts; a minute is truly positive with kFieldPositiveClicks audible
// clicks.
inline constexpr double kFieldAudibleOverNoise = 10;
inline constexpr double kFieldAudibleFloor = 30;
inline constexpr int32_t kFieldPositiveClicks = 5;

// Throws std::invalid_argument for options out of range (as PlanScene).
Scene PlanFieldScene(const SceneOptions& options);

}  // namespace wtk::synth
