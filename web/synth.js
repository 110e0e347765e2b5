// Sound with nothing fetched: Web Audio oscillators with a short envelope,
// a timbre of its own for each of the sixteen channels, and drums that
// sound like their General MIDI names on the drum channels the page's
// setting names. Notes are scheduled a little ahead of time, so that a
// file of any length plays without scheduling all of it at once, through
// one gain set by how many voices can sound at once, so that it never clips.
'use strict';

// Each channel's timbre: the fundamental, with the 2nd, 3rd, 4th and 5th
// harmonics added as the channel's four bits say, like an organ's stops;
// sixteen channels, sixteen spectra, each differing from every other in a
// harmonic at least.
const STOPS = [2, 3, 4, 5];
const AHEAD_MS = 1000;
// A voice's level at velocity v; its wave peaks at 1.
const voiceLevel = (v) => 0.25 * (v / 127) ** 2;
const waves = new WeakMap(); // each context's sixteen waves

function channelWave(ctx, chan) {
  if (!waves.has(ctx)) {
    waves.set(ctx, Array.from({ length: 16 }, (_, c) => {
      const imag = new Float32Array(6);
      imag[1] = 1;
      STOPS.forEach((h, bit) => { if (c & (1 << bit)) imag[h] = 0.6; });
      return ctx.createPeriodicWave(new Float32Array(6), imag);
    }));
  }
  return waves.get(ctx)[chan];
}
// How long a drum's sound lasts, s, the longest included.
const DRUM_TAIL = 1.2;

const synth = {
  ctx: null,
  out: null,      // the gain every note of the current playing goes through
  noise: null,
  playing: false,
  next: 0,        // the next note to schedule
  from: 0,        // the file's time where playing started, ms
  startedAt: 0,   // the context's time then, s
  timer: 0,
  onTick: null,   // called with the file's time as it plays
  onChange: null, // called when playing starts or stops: the one state every control shows
};

function noiseBuffer(ctx) {
  const buffer = ctx.createBuffer(1, Math.round(ctx.sampleRate * DRUM_TAIL), ctx.sampleRate);
  const data = buffer.getChannelData(0);
  let seed = 1;
  for (let i = 0; i < data.length; i++) {
    seed = (seed * 1103515245 + 12345) >>> 0;
    data[i] = seed / 2147483648 - 1;
  }
  return buffer;
}

// Noise through a filter, dying away over seconds.
function noiseHit(ctx, out, noise, type, frequency, level, start, seconds) {
  const source = ctx.createBufferSource();
  source.buffer = noise;
  const filter = ctx.createBiquadFilter();
  filter.type = type;
  filter.frequency.value = frequency;
  const gain = ctx.createGain();
  source.connect(filter).connect(gain).connect(out);
  gain.gain.setValueAtTime(level, start);
  gain.gain.exponentialRampToValueAtTime(0.0001, start + seconds);
  source.start(start);
  source.stop(start + seconds);
}

// A tone whose pitch falls from high to low hertz, as a drum's skin does.
function fallingTone(ctx, out, high, low, level, start, seconds) {
  const osc = ctx.createOscillator();
  osc.frequency.setValueAtTime(high, start);
  osc.frequency.exponentialRampToValueAtTime(low, start + seconds * 0.4);
  const gain = ctx.createGain();
  osc.connect(gain).connect(out);
  gain.gain.setValueAtTime(level, start);
  gain.gain.exponentialRampToValueAtTime(0.0001, start + seconds);
  osc.start(start);
  osc.stop(start + seconds);
}

// One drum, by its General MIDI key: kicks low, hats and cymbals high.
function playDrum(ctx, out, noise, key, level, start) {
  if (key === 35 || key === 36) {
    fallingTone(ctx, out, 120, 42, level * 4, start, 0.35);
  } else if ([37, 38, 39, 40].includes(key)) {
    fallingTone(ctx, out, 240, 180, level * 1.5, start, 0.12);
    noiseHit(ctx, out, noise, 'highpass', 1800, level * 3, start, 0.18);
  } else if (key === 42 || key === 44) {
    noiseHit(ctx, out, noise, 'highpass', 8000, level * 3, start, 0.06);
  } else if (key === 46) {
    noiseHit(ctx, out, noise, 'highpass', 8000, level * 3, start, 0.35);
  } else if ([49, 51, 52, 53, 55, 57, 59].includes(key)) {
    noiseHit(ctx, out, noise, 'highpass', 6000, level * 2.5, start, DRUM_TAIL);
  } else if ([41, 43, 45, 47, 48, 50].includes(key)) {
    const f = 70 + (key - 41) * 14;
    fallingTone(ctx, out, f * 1.6, f, level * 3, start, 0.3);
  } else {
    noiseHit(ctx, out, noise, 'bandpass', 400 + 90 * (key - 54), level * 3, start, 0.15);
  }
}

// Schedules one note on ctx, into out, at the context's times start and end.
function playNote(ctx, out, noise, chan, key, velocity, start, end) {
  const level = voiceLevel(velocity);
  if (isDrum(chan)) {
    playDrum(ctx, out, noise, key, level, start);
    return;
  }
  const gain = ctx.createGain();
  gain.connect(out);
  const osc = ctx.createOscillator();
  osc.setPeriodicWave(channelWave(ctx, chan));
  osc.frequency.value = 440 * 2 ** ((key - 69) / 12);
  osc.connect(gain);
  const release = Math.max(end, start + 0.03);
  gain.gain.setValueAtTime(0, start);
  gain.gain.linearRampToValueAtTime(level, start + 0.005);
  gain.gain.linearRampToValueAtTime(level * 0.6, start + 0.1);
  gain.gain.setValueAtTime(level * 0.6, release);
  gain.gain.linearRampToValueAtTime(0, release + 0.08);
  osc.start(start);
  osc.stop(release + 0.1);
}

// The gain that keeps the loudest moment of the notes from clipping: the
// most that the voices sounding together can reach, summed over short
// spans of time, which can only overstate it.
function mixGain(notes, count, hidden, end) {
  const span = Math.max(50, Math.ceil((end + DRUM_TAIL * 1000) / 1e6));
  const sums = new Float64Array(Math.ceil((end + DRUM_TAIL * 1000) / span) + 2);
  for (let at = 0; at < count * 6; at += 6) {
    const chan = notes[at + 4] >> 16;
    if (hidden[chan]) continue;
    const stop = isDrum(chan) ? notes[at] + DRUM_TAIL * 1000 : Math.max(notes[at + 1], notes[at] + 30) + 180;
    const peak = voiceLevel(notes[at + 4] & 0x7f) * (isDrum(chan) ? 4.5 : 1);
    sums[Math.floor(notes[at] / span)] += peak;
    sums[Math.floor(stop / span) + 1] -= peak;
  }
  let loudest = 0;
  for (let i = 0, sum = 0; i < sums.length; i++) loudest = Math.max(loudest, sum += sums[i]);
  return Math.min(1, 0.95 / Math.max(loudest, 1e-9));
}

// Schedules on ctx every note that starts in [from, to) ms of the file,
// from note index first; returns the index after the last one scheduled.
function scheduleNotes(ctx, out, noise, notes, count, hidden, first, from, to, zero) {
  let i = first;
  for (; i < count && notes[i * 6] < to; i++) {
    const n = notes.subarray(i * 6, i * 6 + 6);
    const chan = n[4] >> 16;
    if (n[0] < from || hidden[chan]) continue;
    playNote(ctx, out, noise, chan, (n[4] >> 8) & 0x7f, n[4] & 0x7f,
      zero + (n[0] - from) / 1000, zero + (n[1] - from) / 1000);
  }
  return i;
}

function tick() {
  const now = (synth.ctx.currentTime - synth.startedAt) * 1000 + synth.from;
  synth.next = scheduleNotes(synth.ctx, synth.out, synth.noise, roll.notes, roll.count,
    roll.hidden, synth.next, synth.from, now + AHEAD_MS, synth.startedAt);
  if (synth.onTick) synth.onTick(now);
  if (now > roll.end + 300) stopPlaying();
}

// Ends the sound already scheduled: every note of a playing goes through
// one gain, which is cut off. The context stays, as a browser allows only
// a few, and closing one takes a while.
function silence() {
  clearInterval(synth.timer);
  synth.out.disconnect();
  synth.out = null;
}

// Starts from the file's time from, or from there again while playing;
// must run in a click or key press, which browsers require before they make
// a sound.
function startPlaying(from) {
  if (synth.playing) silence();
  if (!synth.ctx) {
    synth.ctx = new AudioContext();
    synth.noise = noiseBuffer(synth.ctx);
  }
  synth.ctx.resume();
  synth.out = synth.ctx.createGain();
  synth.out.gain.value = mixGain(roll.notes, roll.count, roll.hidden, roll.end);
  synth.out.connect(synth.ctx.destination);
  synth.playing = true;
  synth.from = from;
  synth.startedAt = synth.ctx.currentTime + 0.05;
  synth.next = 0;
  while (synth.next < roll.count && roll.notes[synth.next * 6] < from) synth.next++;
  tick();
  synth.timer = setInterval(tick, 100);
  if (synth.onChange) synth.onChange();
}

function stopPlaying() {
  if (!synth.playing) return;
  synth.playing = false;
  silence();
  if (synth.onChange) synth.onChange();
}

// The notes from 0 to seconds rendered offline with the same code: the
// peak level, for tests.
async function renderOffline(seconds) {
  return peakOf(await renderSamples(seconds));
}

// The samples of the notes from 0 to seconds, through the same mix.
async function renderSamples(seconds) {
  const ctx = new OfflineAudioContext(1, Math.round(44100 * seconds), 44100);
  const out = ctx.createGain();
  out.gain.value = mixGain(roll.notes, roll.count, roll.hidden, roll.end);
  out.connect(ctx.destination);
  scheduleNotes(ctx, out, noiseBuffer(ctx), roll.notes, roll.count, roll.hidden, 0, 0, seconds * 1000, 0);
  return (await ctx.startRendering()).getChannelData(0);
}

const peakOf = (samples) => samples.reduce((peak, v) => Math.max(peak, Math.abs(v)), 0);
