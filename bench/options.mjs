// The harness's command line: every option, its default, and what it sets.
export function parseOptions(argv) {
    const opts = {
        runs: 7,
        warmup: 1,
        readyRuns: 20,
        idleSeconds: 10,
        sampleAfter: 2,
        lorvane: process.env.LORVANE_BIN || "",
        only: "",
        extra: [],
        commands: [],
        out: "",
    };
    for (let i = 0; i < argv.length; i++) {
        const a = argv[i];
        const v = () => argv[++i];
        if (a === "--runs") opts.runs = Number(v());
        else if (a === "--warmup") opts.warmup = Number(v());
        else if (a === "--ready-runs") opts.readyRuns = Number(v());
        else if (a === "--idle") opts.idleSeconds = Number(v());
        else if (a === "--lorvane") opts.lorvane = v();
        // Another build of the shell measured as its own contender (e.g. before/after a change).
        else if (a === "--also") {
            const [name, bin] = v().split("=");
            opts.extra.push({ name, bin });
        } else if (a === "--variant") {
            // The main build again under extra environment, e.g. lorvane-cairo:GSK_RENDERER=cairo
            const [name, ...vars] = v().split(":");
            opts.extra.push({ name, bin: null, env: Object.fromEntries(vars.map((kv) => [kv.slice(0, kv.indexOf("=")), kv.slice(kv.indexOf("=") + 1)])) });
        } else if (a === "--only") opts.only = v();
        else if (a === "--ready-for") opts.readyFor = v();
        else if (a === "--cold-bus") opts.coldBus = true;
        else if (a === "--sample-after") opts.sampleAfter = Number(v());
        else if (a === "--out") opts.out = v();
        // Any other program as a contender; the page's URL is appended to its command line.
        else if (a === "--cmd") {
            const spec = v();
            const eq = spec.indexOf("=");
            opts.commands.push({ name: spec.slice(0, eq), command: spec.slice(eq + 1) });
        }
        // Diagnosis only: when each process of the tree first appears (polling costs CPU, so figures
        // from such a run are not comparable).
        else if (a === "--timeline") opts.timeline = true;
        // The start-up steps of the shells and floors, from a preloaded library (steps_shim.c).
        else if (a === "--steps") opts.steps = true;
        else {
            console.error(`unknown option ${a}`);
            process.exit(2);
        }
    }
    return opts;
}
