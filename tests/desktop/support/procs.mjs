// What /proc says about a process: whether it runs or is a zombie, its parent, memory and descriptors.
import fs from 'node:fs';

// 'running', 'zombie' or 'gone'.
export function processState(pid) {
  let stat;
  try {
    stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
  } catch {
    return 'gone';
  }
  const state = stat.slice(stat.lastIndexOf(')') + 2).split(' ')[0];
  return state === 'Z' || state === 'X' ? 'zombie' : 'running';
}

export function parentOf(pid) {
  try {
    const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
    return Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
  } catch {
    return null;
  }
}

// Zombies among the direct children of `pid`: children it has failed to reap.
export function zombieChildren(pid) {
  const found = [];
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    if (parentOf(entry) === pid && processState(entry) === 'zombie') found.push(Number(entry));
  }
  return found;
}

// Resident memory in KiB, or null once the process is gone.
export function residentKiB(pid) {
  try {
    const match = /VmRSS:\s+(\d+) kB/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'));
    return match ? Number(match[1]) : null;
  } catch {
    return null;
  }
}

// The descriptors a running process holds: { fd: target }.
export function descriptorTable(pid) {
  const table = {};
  for (const fd of fs.readdirSync(`/proc/${pid}/fd`)) {
    try {
      table[fd] = fs.readlinkSync(`/proc/${pid}/fd/${fd}`);
    } catch {
      // closed while we looked
    }
  }
  return table;
}

// Processes (by pid) that hold `file` open.
export function holdersOf(file) {
  const holders = [];
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    let fds;
    try {
      fds = fs.readdirSync(`/proc/${entry}/fd`);
    } catch {
      continue;
    }
    for (const fd of fds) {
      let target = null;
      try { target = fs.readlinkSync(`/proc/${entry}/fd/${fd}`); } catch { /* gone */ }
      if (target === file || target === `${file} (deleted)`) {
        holders.push(Number(entry));
        break;
      }
    }
  }
  return holders;
}
