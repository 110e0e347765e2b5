// Sound with nothing fetched: Web Audio oscillators with a short envelope,
// one timbre per channel, and a burst of noise on the drum channel. Notes
// are scheduled a little ahead of time, so that a file of any length plays
// without scheduling all of it at once.
'use strict';

const DRUM_CHANNEL = 9; // channel j, as qevcheck takes it
const WAVES = ['triangle', 'square', 'sawtooth', 'sine'];
const AHEAD_MS = 1000;

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
  const buffer = ctx.createBuffer(1, Math.round(ctx.sampleRate * 0.3), ctx.sampleRate);
  const data = buffer.getChannelData(0);
  let seed = 1;
  for (let i = 0; i < data.length; i++) {
    seed = (seed * 1103515245 + 12345) >>> 0;
    data[i] = seed / 2147483648 - 1;
  }
  return buffer;
}

// Schedules one note on ctx, into out, at the context's times start and end.
function playNote(ctx, out, noise, chan, key, velocity, start, end) {
  const level = 0.25 * (velocity / 127) ** 2;
  const gain = ctx.createGain();
  gain.connect(out);
  if (chan === DRUM_CHANNEL) {
    const source = ctx.createBufferSource();
    source.buffer = noise;
    const filter = ctx.createBiquadFilter();
    filter.type = 'bandpass';
    filter.frequency.value = 200 + 60 * (key - 35);
    source.connect(filter).connect(gain);
    gain.gain.setValueAtTime(level * 2, start);
    gain.gain.exponentialRampToValueAtTime(0.0001, start + 0.15);
    source.start(start);
    source.stop(start + 0.2);
    return;
  }
  const osc = ctx.createOscillator();
  osc.type = WAVES[chan % WAVES.length];
  osc.frequency.value = 440 * 2 ** ((key - 69) / 12);
  osc.detune.value = (chan >> 2) * 4;
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
  const ctx = new OfflineAudioContext(1, Math.round(44100 * seconds), 44100);
  scheduleNotes(ctx, ctx.destination, noiseBuffer(ctx), roll.notes, roll.count, roll.hidden, 0, 0,
    seconds * 1000, 0);
  const buffer = await ctx.startRendering();
  return buffer.getChannelData(0).reduce((peak, v) => Math.max(peak, Math.abs(v)), 0);
}
