// Walking through a level: which keys move, how fast, and where the camera
// goes, as plain arithmetic, so that the page, its worker and its tests
// share it. Walls do not stop the camera.

// The keys that move, by the key's place on the keyboard (event.code), so
// that other layouts walk with the same hand: forward, right and up.
const moves = {
  KeyW: [1, 0, 0], ArrowUp: [1, 0, 0], KeyS: [-1, 0, 0], ArrowDown: [-1, 0, 0],
  KeyD: [0, 1, 0], ArrowRight: [0, 1, 0], KeyA: [0, -1, 0], ArrowLeft: [0, -1, 0],
  KeyE: [0, 0, 1], Space: [0, 0, 1], KeyQ: [0, 0, -1], KeyC: [0, 0, -1],
};

// The keys that start walking from the view turned around the level: the
// arrows and Space scroll the page until then.
const startKeys = new Set(['KeyW', 'KeyA', 'KeyS', 'KeyD', 'KeyE', 'KeyQ', 'KeyC']);

// A level is crossed in this many seconds, and four times as fast with
// Shift held.
const crossingSeconds = 8;
const fastFactor = 4;

// Radians a pixel of mouse movement turns the view; looking straight up or
// down is kept just short of vertical, where left and right are lost.
const lookPerPixel = 0.004;
const steepest = Math.PI / 2 - 0.01;

export const isMoveKey = (code) => code in moves;
export const startsWalking = (code) => startKeys.has(code);

// Whether a key went to something typed into or chosen on the page, which
// the view leaves alone.
export const typingInto = (target) => Boolean(target?.closest?.('input, textarea, select, [contenteditable]'));

// The movement that held keys ask for, [forward, right, up], each -1, 0 or
// 1: opposite keys cancel.
export function movement(held) {
  const sum = [0, 0, 0];
  for (const code of held)
    moves[code]?.forEach((value, axis) => { sum[axis] += value; });
  return sum.map((value) => Math.sign(value));
}

// Units a second through a level whose widest side is `size`.
export const walkSpeed = (size, fast) => (size / crossingSeconds) * (fast ? fastFactor : 1);

// The view's direction after the mouse moved by (dx, dy) pixels: yaw turns
// around the vertical, pitch up and down.
export function looked({ yaw, pitch }, dx, dy) {
  return { yaw: yaw - dx * lookPerPixel, pitch: Math.max(-steepest, Math.min(steepest, pitch - dy * lookPerPixel)) };
}

// The yaw and pitch of a direction [x, y, z] (y up; yaw 0 looks along -z,
// as a camera does).
export function anglesOf([x, y, z]) {
  return { yaw: Math.atan2(-x, -z), pitch: Math.max(-steepest, Math.min(steepest, Math.atan2(y, Math.hypot(x, z)))) };
}

// Where the camera at `position` [x, y, z] is after moving `distance`
// along `move` ([forward, right, up]): forward where it looks, right level
// with the ground, up straight up; along a diagonal no faster than along
// one key.
export function stepped(position, { yaw, pitch }, move, distance) {
  const length = Math.hypot(...move);
  if (length === 0)
    return position;
  const [forward, right, up] = move.map((value) => (value / length) * distance);
  const look = [-Math.sin(yaw) * Math.cos(pitch), Math.sin(pitch), -Math.cos(yaw) * Math.cos(pitch)];
  const side = [Math.cos(yaw), 0, -Math.sin(yaw)];
  return position.map((value, axis) => value + look[axis] * forward + side[axis] * right + (axis === 1 ? up : 0));
}
