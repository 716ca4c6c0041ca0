// Figures a test reports to scripts/reliability.sh: one JSON object per line in the file it names.
import fs from 'node:fs';

export function reportFigure(figure) {
  const file = process.env.LORVANE_RELIABILITY_FIGURES;
  if (file) fs.appendFileSync(file, `${JSON.stringify(figure)}\n`);
}
