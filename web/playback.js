// Playback's controls: Play and Stop, and the playhead the roll follows.

// Play starts at the playhead, or at the start once it has reached the end.
function togglePlay() {
  if (synth.playing) {
    stopPlaying();
  } else {
    startPlaying(roll.playhead < roll.end ? roll.playhead : 0);
  }
}

function showPlayState() {
  $('play').textContent = synth.playing ? 'Stop' : 'Play';
  $('play').setAttribute('aria-pressed', String(synth.playing));
}

// Moves the playhead, which the sound's short lead-in may put before 0;
// while playing, the view follows it when it leaves.
function movePlayhead(time) {
  const t = Math.max(0, time);
  roll.playhead = t;
  $('position').textContent = `${(t / 1000).toFixed(3)} s`;
  const { w } = rollSize();
  if (synth.playing && (xOf(t) > w - 8 || xOf(t) < KEYS_WIDTH)) {
    roll.t0 = Math.max(0, t - 0.1 * (w - KEYS_WIDTH) * roll.msPerPx);
  }
  drawRoll();
}
