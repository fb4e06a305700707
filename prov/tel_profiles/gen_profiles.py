#!/usr/bin/env python3
"""Writes the shipped telephony country profiles (<code>_profile.xml) from the tables below.

Tone plans follow the national entries of ITU-T E.180 Supplement 2 (frequencies in Hz, cadences
in ms, levels in dBm0 per frequency); caller-ID and message-waiting settings follow Bellcore
GR-30 / Bell 202 (North America), ETSI EN 300 659-1 and national variants (BT SIN 227, NTT,
France Telecom, the Nordic and Dutch DTMF-based scheme). Run it from this directory after
changing a table; the XML files are committed beside it.
"""

import os

# ------------------------------------------------------------------------------------------------
# Tone plans
# ------------------------------------------------------------------------------------------------

FOREVER = 65535  # whole-pattern repetitions of a cadence that runs until it is stopped


def comp(freqs, on, off=0, reps=0, modulate=None):
    """One cadence step: freqs = [(hertz, level dBm0)], on/off in ms, reps = extra repeats."""
    return {"freqs": freqs, "on": on, "off": off, "reps": reps, "modulate": modulate}


def tone(comps, repeat=FOREVER, steady=False):
    """A tone: its steps, how often the whole pattern repeats, and whether the last step stays on."""
    return {"comps": comps, "repeat": repeat, "steady": steady}


def continuous(freqs):
    return tone([comp(freqs, 1000)], repeat=0, steady=True)


def cadence(freqs, *on_off):
    steps = [comp(freqs, on_off[i], on_off[i + 1]) for i in range(0, len(on_off), 2)]
    return tone(steps)


def stutter(freqs, on, off, count):
    """count short interruptions, then steady (message-waiting and special dial tones)."""
    return tone([comp(freqs, on, off, reps=count - 1)], repeat=0, steady=True)


def once(freqs, *on_off):
    steps = [comp(freqs, on_off[i], on_off[i + 1]) for i in range(0, len(on_off), 2)]
    return tone(steps, repeat=0)


HOWLER = [(1400, -10), (2060, -10), (2450, -10), (2600, -10)]


def north_american_tones():
    dial = [(350, -13), (440, -13)]
    busy = [(480, -24), (620, -24)]
    cw = [(440, -13)]
    return {
        "ToneDial": continuous(dial),
        "ToneBusy": cadence(busy, 500, 500),
        "ToneRingBack": cadence([(440, -19), (480, -19)], 2000, 4000),
        "ToneReOrder": cadence(busy, 250, 250),
        "ToneCongestion": cadence(busy, 250, 250),
        "ToneCongestion1": cadence(busy, 200, 300),
        "ToneConfirmation": once(dial, 100, 100, 100, 100, 100, 100),
        "ToneStutterdial": stutter(dial, 100, 100, 10),
        "ToneMessageWaiting": stutter(dial, 100, 100, 10),
        "ToneSpecialDial": stutter(dial, 100, 100, 3),
        "ToneOffHookWarning": cadence(HOWLER, 100, 100),
        "ToneCallWaiting": once(cw, 300, 0),
        "ToneCallWaiting1": once(cw, 300, 0),
        "ToneCallWaiting2": once(cw, 100, 100, 100, 0),
        "ToneCallWaiting3": once(cw, 100, 100, 100, 100, 100, 0),
        "ToneCallWaiting4": once(cw, 100, 100, 300, 100, 100, 0),
    }


def european_tones(freq=425, level=-10, busy=(500, 500), ringback=(1000, 4000),
                   congestion=(250, 250), dial=None, callwaiting=(200, 200, 200, 9000)):
    f = [(freq, level)]
    steps = list(ringback)
    return {
        "ToneDial": continuous(dial or f),
        "ToneBusy": cadence(f, *busy),
        "ToneRingBack": cadence(f, *steps),
        "ToneReOrder": cadence(f, *congestion),
        "ToneCongestion": cadence(f, *congestion),
        "ToneCongestion1": cadence(f, 200, 200),
        "ToneConfirmation": once(f, 100, 100, 100, 100, 100, 100),
        "ToneStutterdial": stutter(f, 100, 100, 10),
        "ToneMessageWaiting": stutter(f, 100, 100, 10),
        "ToneSpecialDial": cadence(f, 400, 40),
        "ToneOffHookWarning": cadence(HOWLER, 100, 100),
        "ToneCallWaiting": once(f, *callwaiting[:3], 0) if len(callwaiting) > 2 else once(f, *callwaiting),
        "ToneCallWaiting1": once(f, 200, 0),
        "ToneCallWaiting2": once(f, 200, 200, 200, 0),
        "ToneCallWaiting3": once(f, 200, 200, 200, 200, 200, 0),
        "ToneCallWaiting4": once(f, 100, 100, 300, 100, 100, 0),
    }


def with_tones(base, **overrides):
    tones = dict(base)
    tones.update(overrides)
    return tones


# ------------------------------------------------------------------------------------------------
# Ring cadences: lists of (on ms, off ms); "once" plays the cadence a single time
# ------------------------------------------------------------------------------------------------

BELLCORE_RINGS = {  # GR-506 distinctive ringing
    "ring0": [(2000, 4000)],
    "ring1": [(800, 400), (800, 4000)],
    "ring2": [(400, 200), (400, 200), (800, 4000)],
    "ring3": [(300, 200), (1000, 200), (300, 4000)],
    "ring4": [(500, 5500)],
    "ring5": [(1000, 5000)],
    "ring6": [(400, 200), (400, 5000)],
    "ring7": [(300, 200), (300, 200), (300, 5000)],
}


def rings(general, splash=500, variants=None):
    table = dict(variants or {
        "ring0": general,
        "ring1": [(400, 200), (400, 2000)],
        "ring2": [(300, 200), (300, 200), (300, 2000)],
        "ring3": [(800, 400), (800, 4000)],
        "ring4": [(1000, 200), (300, 4000)],
        "ring5": [(500, 500), (500, 3500)],
        "ring6": [(250, 250), (250, 250), (250, 3500)],
        "ring7": [(1500, 4500)],
    })
    table["generalRing"] = general
    table["splashRing"] = ("once", [(splash, 0)])
    return table


def ring_words(cadence):
    """The VRG_RING_PROFILE of a cadence: (longPattern, [words])."""
    play_once = isinstance(cadence, tuple)
    steps = cadence[1] if play_once else cadence
    total = sum(on + off for on, off in steps)
    if all(on % 100 == 0 and off % 100 == 0 for on, off in steps) and total // 100 <= 60:
        bits = "".join("1" * (on // 100) + "0" * (off // 100) for on, off in steps)
        value = (int(bits, 2) << 4) | (0x8 if play_once else 0)
        return False, [(value >> 32) & 0xFFFFFFFF, value & 0xFFFFFFFF]
    # Long pattern: 50 ms steps after a header of length, play-once flag and loop start 0.
    bits = "".join("1" * (on // 50) + "0" * (off // 50) for on, off in steps)
    assert len(bits) <= 296, "cadence too long"
    header = (len(bits) << 16) | (0x8000 if play_once else 0)
    stream = format(header >> 8, "024b") + bits  # the cadence starts at bit 7 of word 1
    stream = stream.ljust(320, "0")
    return True, [int(stream[i:i + 32], 2) for i in range(0, 320, 32)]


# ------------------------------------------------------------------------------------------------
# Caller ID, message waiting and the rest of a country
# ------------------------------------------------------------------------------------------------

BELL202 = {"amplitude": 135, "markFrequency": 1200, "spaceFrequency": 2200,
           "startNumSeizes": 300, "startNumMarks": 180}
V23 = {"amplitude": 135, "markFrequency": 1300, "spaceFrequency": 2100,
       "startNumSeizes": 300, "startNumMarks": 180}

DTMF_CLIP = {  # ETSI EN 300 659-1 DTMF-based presentation: A<number>C, B00C / B10C specials
    "dbLevel": 7, "pulseTime": 70, "startCode": "DTMFA", "endCode": "DTMFC",
    "redirectingCode": "DTMFD", "informationCode": "DTMFB",
    "privateCode": ["DTMF1", "DTMF0", "DTMFERROR"],
    "unavailCode": ["DTMF0", "DTMF0", "DTMFERROR"],
    "errorCode": ["DTMFERROR"],
    "DTMFpauseTimeout": 500, "DTMFsessionTimeout": 5000, "ringAfterClidTimeout": 6000,
}

NA_TIMING = {"MinHookFlash": 300, "MaxHookFlash": 1000, "PlsDlInterdigitTime": 300,
             "PlsDlMinMakeTime": 20, "PlsDlMaxMakeTime": 75, "PlsDlMinBreakTime": 40,
             "PlsDlMaxBreakTime": 90, "MinConnect": 100, "MinDisconnect": 1100}
EU_TIMING = {"MinHookFlash": 80, "MaxHookFlash": 300, "PlsDlInterdigitTime": 250,
             "PlsDlMinMakeTime": 20, "PlsDlMaxMakeTime": 55, "PlsDlMinBreakTime": 45,
             "PlsDlMaxBreakTime": 80, "MinConnect": 100, "MinDisconnect": 400}

CID_DELAYS = {"CIDFskAfterRing": 500, "CIDFskAfterDTAS": 50, "CIDFskAfterRPAS": 650,
              "CIDRingAfterFSK": 500, "CIDDTASAfterLR": 150, "CIDDTMFAfterLR": 300,
              "VMWIFskAfterDTAS": 50, "VMWIFskAfterRPAS": 650, "VMWIDTASAfterLR": 150,
              "CallWtgDelay": 100}


def country(name, tones, ring_table, cid_mode, cid_protocol="FSK", fsk=V23, vmwi_mode="DTAS",
            timing=EU_TIMING, ring_freq=25, ring_voltage=50, pte="europe", dtmf_level=9,
            msg_format="MDMF", dtmf_clip=DTMF_CLIP, **delays):
    data = {"name": name, "tones": tones, "rings": ring_table}
    values = dict(timing)
    values.update(CID_DELAYS)
    values.update(delays)
    values.update({
        "CIDMode": cid_mode, "CIDSigProtocol": cid_protocol, "VMWIMode": vmwi_mode,
        "VMWISigProtocol": "FSK", "VMWIMsgFormat": msg_format,
        "HighVoltageRingSupport": "false", "DtmfDbLevel": dtmf_level, "DtmfPulseTime": 100,
        "PowerRingFrequency": ring_freq, "RingWaveform": "sine", "RingVoltage": ring_voltage,
        "RingDCOffset": 0, "PteDetectAdmin": pte, "PteMinDetectPower": -40,
        "PveEgressVolume": 0,
    })
    data["values"] = values
    data["fsk"] = dict(fsk)
    data["dtmf"] = dict(dtmf_clip)
    return data


NA = north_american_tones()
EU = european_tones()

COUNTRIES = {
    "USA": country("NORTH_AMERICA", NA, rings([(2000, 4000)], variants=BELLCORE_RINGS),
                   "onhook_ring", fsk=BELL202, vmwi_mode="OSI", timing=NA_TIMING, ring_freq=20,
                   pte="n_america", dtmf_level=7),
    "T57": country("TR57", NA, rings([(2000, 4000)], variants=BELLCORE_RINGS), "onhook_ring",
                   fsk=BELL202, vmwi_mode="OSI", timing=NA_TIMING, ring_freq=20,
                   pte="n_america", dtmf_level=7),
    "GBR": country("UK", with_tones(
        european_tones(freq=400, busy=(375, 375), ringback=(400, 200, 400, 2000),
                       congestion=(400, 350, 225, 525), dial=[(350, -10), (440, -10)],
                       callwaiting=(100, 2000, 100, 7000)),
        ToneRingBack=cadence([(400, -10), (450, -10)], 400, 200, 400, 2000),
        ToneSpecialDial=cadence([(350, -10), (440, -10)], 750, 750),
        ToneMessageWaiting=cadence([(350, -10), (440, -10)], 750, 750),
        ToneStutterdial=cadence([(350, -10), (440, -10)], 750, 750)),
        rings([(400, 200), (400, 2000)]), "onhook_LRAS", vmwi_mode="LRAS",
        fsk=dict(V23, startNumSeizes=96, startNumMarks=55)),
    "DEU": country("GERMANY", european_tones(busy=(480, 480), ringback=(1000, 4000),
                                             congestion=(240, 240),
                                             callwaiting=(200, 200, 200, 5000)),
                   rings([(1000, 4000)]), "onhook_ring"),
    "FRA": country("FRANCE", european_tones(freq=440, busy=(500, 500), ringback=(1500, 3500),
                                            congestion=(250, 250),
                                            callwaiting=(300, 10000)),
                   rings([(1500, 3500)]), "onhook_RPAS", vmwi_mode="RPAS", ring_freq=50),
    "SWE": country("SWEDEN", european_tones(busy=(250, 250), ringback=(1000, 5000),
                                            congestion=(250, 750),
                                            callwaiting=(200, 500, 200, 0)),
                   rings([(1000, 5000)]), "onhook_LR", cid_protocol="DTMF"),
    "NLD": country("NETHERLANDS", european_tones(busy=(500, 500), ringback=(1000, 4000),
                                                 congestion=(250, 250),
                                                 callwaiting=(500, 9500)),
                   rings([(1000, 4000)]), "onhook_LR", cid_protocol="DTMF"),
    "DNK": country("DENMARK", european_tones(busy=(250, 250), ringback=(1000, 4000),
                                             congestion=(250, 250),
                                             callwaiting=(200, 200, 200, 4400)),
                   rings([(1000, 4000)]), "onhook_LR", cid_protocol="DTMF",
                   dtmf_clip=dict(DTMF_CLIP, startCode="DTMFD")),
    "JPN": country("JAPAN", with_tones(
        european_tones(freq=400, level=-12, busy=(500, 500), ringback=(1000, 2000),
                       congestion=(250, 250), callwaiting=(100, 100, 100, 3000)),
        ToneRingBack=tone([comp([(400, -12), (16, -12)], 1000, 2000, modulate=85)])),
        rings([(1000, 2000)]), "onhook_LRCARIR", vmwi_mode="DTAS", ring_freq=16,
        ring_voltage=75, pte="japan", timing=dict(EU_TIMING, MaxHookFlash=1000,
                                                   MinDisconnect=1100),
        fsk=dict(V23, amplitude=150, startNumSeizes=0, startNumMarks=72)),
    "ETS": country("ETSI", EU, rings([(1000, 4000)]), "onhook_DTAS"),
    "AUS": country("AUSTRALIA", with_tones(
        european_tones(freq=425, busy=(375, 375), ringback=(400, 200, 400, 2000),
                       congestion=(375, 375), dial=[(400, -10), (425, -10)],
                       callwaiting=(200, 200, 200, 4400)),
        ToneRingBack=cadence([(400, -10), (450, -10)], 400, 200, 400, 2000)),
        rings([(400, 200), (400, 2000)]), "onhook_LR", pte="australia", ring_freq=25),
    "BEL": country("BELGIUM", european_tones(busy=(500, 500), ringback=(1000, 3000),
                                             congestion=(167, 167)),
                   rings([(1000, 3000)]), "onhook_DTAS"),
    "BRA": country("BRAZIL", european_tones(busy=(250, 250), ringback=(1000, 4000),
                                            congestion=(750, 250, 250, 250)),
                   rings([(1000, 4000)]), "onhook_ring", cid_protocol="DTMF", pte="brazil"),
    "CHL": country("CHILE", european_tones(freq=400, busy=(500, 500), ringback=(1000, 3000),
                                           congestion=(200, 200)),
                   rings([(1000, 3000)]), "onhook_ring", pte="general"),
    "CHN": country("CHINA", european_tones(freq=450, busy=(350, 350), ringback=(1000, 4000),
                                           congestion=(700, 700)),
                   rings([(1000, 4000)]), "onhook_ring", fsk=BELL202, pte="general"),
    "HRV": country("CROATIA", european_tones(busy=(500, 500), ringback=(1000, 4000),
                                             congestion=(250, 250)),
                   rings([(1000, 4000)]), "onhook_DTAS"),
    "CZH": country("CZECH", with_tones(
        european_tones(busy=(330, 330), ringback=(1000, 4000), congestion=(165, 165)),
        ToneDial=cadence([(425, -10)], 330, 330, 660, 660)),
                   rings([(1000, 4000)]), "onhook_DTAS"),
    "FIN": country("FINLAND", european_tones(busy=(300, 300), ringback=(1000, 4000),
                                             congestion=(200, 200),
                                             callwaiting=(150, 150, 150, 8000)),
                   rings([(1000, 4000)]), "onhook_DTAS"),
    "HUN": country("HUNGARY", european_tones(busy=(300, 300), ringback=(1200, 3800),
                                             congestion=(300, 300)),
                   rings([(1200, 3800)]), "onhook_DTAS"),
    "IND": country("INDIA", european_tones(freq=400, busy=(750, 750),
                                           ringback=(400, 200, 400, 2000),
                                           congestion=(250, 250)),
                   rings([(400, 200), (400, 2000)]), "onhook_ring", cid_protocol="DTMF",
                   pte="general"),
    "ITA": country("ITALY", with_tones(
        european_tones(busy=(500, 500), ringback=(1000, 4000), congestion=(200, 200),
                       callwaiting=(400, 100, 250, 100, 150, 14000)),
        ToneDial=cadence([(425, -10)], 200, 200, 600, 1000)),
                   rings([(1000, 4000)]), "onhook_LR"),
    "NZL": country("NEW_ZEALAND", european_tones(freq=400, busy=(500, 500),
                                                 ringback=(400, 200, 400, 2000),
                                                 congestion=(250, 250)),
                   rings([(400, 200), (400, 2000)]), "onhook_DTAS", pte="general"),
    "ESP": country("SPAIN", european_tones(busy=(200, 200), ringback=(1500, 3000),
                                           congestion=(200, 200, 200, 600)),
                   rings([(1500, 3000)]), "onhook_DTAS"),
    "NOR": country("NORWAY", european_tones(busy=(500, 500), ringback=(1000, 4000),
                                            congestion=(200, 200)),
                   rings([(1000, 4000)]), "onhook_DTAS"),
    "CHE": country("SWITZERLAND", european_tones(busy=(500, 500), ringback=(1000, 4000),
                                                 congestion=(200, 200)),
                   rings([(1000, 4000)]), "onhook_DTAS"),
    "TWN": country("TAIWAN", with_tones(
        north_american_tones(),
        ToneRingBack=cadence([(440, -19), (480, -19)], 1000, 2000)),
        rings([(1000, 2000)]), "onhook_ring", fsk=BELL202, ring_freq=20, pte="general",
        timing=NA_TIMING),
    "CYP": country("CYPRUS", european_tones(freq=350, busy=(500, 500), ringback=(1500, 3000),
                                           congestion=(250, 250)),
                   rings([(1500, 3000)]), "onhook_DTAS"),
}

REQUIRED_TONES = ["ToneBusy", "ToneConfirmation", "ToneDial", "ToneMessageWaiting",
                  "ToneOffHookWarning", "ToneRingBack", "ToneReOrder", "ToneStutterdial",
                  "ToneCallWaiting", "ToneCallWaiting1", "ToneCallWaiting2", "ToneCallWaiting3",
                  "ToneCallWaiting4", "ToneSpecialDial", "ToneCongestion", "ToneCongestion1"]
RING_NAMES = ["ring0", "ring1", "ring2", "ring3", "ring4", "ring5", "ring6", "ring7",
              "generalRing", "splashRing"]
VALUE_ORDER = ["MinHookFlash", "MaxHookFlash", "PlsDlInterdigitTime", "PlsDlMinMakeTime",
               "PlsDlMaxMakeTime", "PlsDlMinBreakTime", "PlsDlMaxBreakTime", "MinConnect",
               "MinDisconnect", "CIDMode", "CIDSigProtocol", "CIDFskAfterRing",
               "CIDFskAfterDTAS", "CIDFskAfterRPAS", "CIDRingAfterFSK", "CIDDTASAfterLR",
               "CIDDTMFAfterLR", "CallWtgDelay", "VMWIMode", "VMWISigProtocol", "VMWIMsgFormat",
               "VMWIFskAfterDTAS", "VMWIFskAfterRPAS", "VMWIDTASAfterLR", "DtmfDbLevel",
               "DtmfPulseTime", "HighVoltageRingSupport", "PowerRingFrequency", "RingWaveform",
               "RingVoltage", "RingDCOffset", "PteDetectAdmin", "PteMinDetectPower",
               "PveEgressVolume"]


def tone_xml(name, t):
    out = ["  <toneProfile>", f"    <toneName>{name}</toneName>",
           f"    <repetitions>{t['repeat']}</repetitions>",
           f"    <tones>{len(t['comps'])}</tones>",
           f"    <noSteadyTone>{'false' if t['steady'] else 'true'}</noSteadyTone>"]
    for i, c in enumerate(t["comps"]):
        modulated = c["modulate"] is not None
        out += [f'    <tone instance="{i}">',
                f"      <repetitions>{c['reps']}</repetitions>",
                f"      <soundDuration>{c['on']}</soundDuration>",
                f"      <silenceDuration>{c['off']}</silenceDuration>",
                f"      <modulateTone>{'true' if modulated else 'false'}</modulateTone>",
                f"      <modulatePercent>{c['modulate'] if modulated else 0}</modulatePercent>",
                f"      <frequencies>{len(c['freqs'])}</frequencies>"]
        for j, (hz, level) in enumerate(c["freqs"]):
            out.append(f'      <frequency instance="{j}"><hertz>{hz}</hertz>'
                       f"<level>{level}</level></frequency>")
        out.append("    </tone>")
    out.append("  </toneProfile>")
    return out


def ring_xml(name, cadence):
    long_pattern, words = ring_words(cadence)
    out = ["  <ringProfile>", f"    <name>{name}</name>",
           f"    <longPattern>{'true' if long_pattern else 'false'}</longPattern>"]
    for i, w in enumerate(words):
        out.append(f'    <pattern instance="{i}">0x{w:08X}</pattern>')
    out.append("  </ringProfile>")
    return out


def profile_xml(code, c):
    out = ['<?xml version="1.0" encoding="UTF-8"?>', "<telephonyProfile>",
           f"  <country>{c['name']}</country>"]
    for key in VALUE_ORDER:
        out.append(f"  <{key}>{c['values'][key]}</{key}>")
    out += ["  <CIDFskParmsProfile>", "    <CIDFskParmsName>CIDFskParms</CIDFskParmsName>"]
    for key in ["amplitude", "markFrequency", "spaceFrequency", "startNumSeizes", "startNumMarks"]:
        out.append(f"    <{key}>{c['fsk'][key]}</{key}>")
    out += ["  </CIDFskParmsProfile>", "  <CIDDtmfParmsProfile>",
            "    <CIDDtmfParmsName>CIDDtmfParms</CIDDtmfParmsName>"]
    d = c["dtmf"]
    for key in ["dbLevel", "pulseTime", "startCode", "endCode", "redirectingCode",
                "informationCode"]:
        out.append(f"    <{key}>{d[key]}</{key}>")
    for key in ["privateCode", "unavailCode", "errorCode"]:
        for i, digit in enumerate(d[key]):
            out.append(f'    <{key} instance="{i}">{digit}</{key}>')
    for key in ["DTMFpauseTimeout", "DTMFsessionTimeout", "ringAfterClidTimeout"]:
        out.append(f"    <{key}>{d[key]}</{key}>")
    out.append("  </CIDDtmfParmsProfile>")
    for name in REQUIRED_TONES:
        out += tone_xml(name, c["tones"][name])
    for name in RING_NAMES:
        out += ring_xml(name, c["rings"][name])
    out.append("</telephonyProfile>")
    return "\n".join(out) + "\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for code, c in sorted(COUNTRIES.items()):
        with open(os.path.join(here, f"{code}_profile.xml"), "w", encoding="utf-8") as f:
            f.write(profile_xml(code, c))


if __name__ == "__main__":
    main()
