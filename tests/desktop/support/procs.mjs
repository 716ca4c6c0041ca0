// What /proc says about processes: state, parent, children, memory, descriptors and who carries a marker.
import fs from 'node:fs';

function read(file, encoding = 'utf8') {
  try {
    return fs.readFileSync(file, encoding);
  } catch {
    return null;
  }
}

// The fields of /proc/<pid>/stat after the command name, which may itself hold spaces or parentheses.
function statFields(pid) {
  const stat = read(`/proc/${pid}/stat`);
  return stat ? stat.slice(stat.lastIndexOf(')') + 2).split(' ') : null;
}

function pids() {
  return fs.readdirSync('/proc').filter((entry) => /^\d+$/.test(entry)).map(Number);
}

// 'running', 'zombie' or 'gone'.
export function processState(pid) {
  const fields = statFields(pid);
  if (!fields) return 'gone';
  return fields[0] === 'Z' || fields[0] === 'X' ? 'zombie' : 'running';
}

export function isAlive(pid) {
  return processState(pid) === 'running';
}

export function parentOf(pid) {
  const fields = statFields(pid);
  return fields ? Number(fields[1]) : null;
}

export function commandName(pid) {
  return read(`/proc/${pid}/comm`)?.trim() ?? '?';
}

export function commandLine(pid) {
  return read(`/proc/${pid}/cmdline`)?.split('\0').join(' ').trim() ?? '';
}

export function childrenOf(pid) {
  return (read(`/proc/${pid}/task/${pid}/children`) ?? '').split(/\s+/).filter(Boolean).map(Number);
}

// Where a process's main thread waits: the kernel function and the system call number.
export function waitsIn(pid) {
  return { wchan: read(`/proc/${pid}/wchan`)?.trim() ?? '?', syscall: (read(`/proc/${pid}/syscall`) ?? '?').split(' ')[0] };
}

// Zombies among the direct children of `pid`: children it has failed to reap.
export function zombieChildren(pid) {
  return pids().filter((entry) => parentOf(entry) === pid && processState(entry) === 'zombie');
}

// Resident memory in KiB, or null once the process is gone.
export function residentKiB(pid) {
  const match = /VmRSS:\s+(\d+) kB/.exec(read(`/proc/${pid}/status`) ?? '');
  return match ? Number(match[1]) : null;
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
  return pids().filter((pid) => {
    let fds;
    try {
      fds = fs.readdirSync(`/proc/${pid}/fd`);
    } catch {
      return false;
    }
    return fds.some((fd) => {
      let target = null;
      try { target = fs.readlinkSync(`/proc/${pid}/fd/${fd}`); } catch { /* gone */ }
      return target === file || target === `${file} (deleted)`;
    });
  });
}

// Running processes whose environment carries `marker` (name=value): the app and everything it
// spawned, found even after they were re-parented when the app exited.
export function processesWithMarker(marker) {
  return pids()
    .filter((pid) => pid !== process.pid && (read(`/proc/${pid}/environ`, 'latin1') ?? '').split('\0').includes(marker))
    .filter((pid) => processState(pid) === 'running')
    .map((pid) => ({ pid, cmdline: commandLine(pid) }));
}
