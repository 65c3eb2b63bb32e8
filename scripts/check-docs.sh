#!/usr/bin/env bash
# Checks that what README.md and docs/*.md name still exists: repository paths and relative
# links (scripts, sources, examples, other pages), the presets of every cmake/ctest/cpack
# command, and the build targets they name (fuzz targets, benchmarks, programs under build/).
# A line marked "(to come)" names a page not written yet and is passed over. Reads files only:
# nothing is configured or built. Exits 1 and lists what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

python3 - README.md docs/*.md <<'PYTHON'
import json
import os
import re
import sys

presets = json.load(open('CMakePresets.json'))
kinds = {'configure': 'configurePresets', 'build': 'buildPresets', 'test': 'testPresets',
         'package': 'packagePresets', 'workflow': 'workflowPresets'}
known = {kind: {p['name'] for p in presets.get(key, [])} for kind, key in kinds.items()}

# Targets as the CMake files declare them; ${rule} stands for each match rule.
targets = set()
for folder, _, files in [w for top in ('SourceCode', 'tests') for w in os.walk(top)]:
    if 'CMakeLists.txt' in files:
        text = open(os.path.join(folder, 'CMakeLists.txt')).read()
        for name in re.findall(r'(?:add_executable|add_library|installer_fuzz_target|installer_program)\(\s*([\w${}]+)', text):
            targets.update(name.replace('${rule}', rule) for rule in ('equality', 'prefix'))
        # installer_rule_program(NAME ...) makes NAME and NAMEPrefix.
        for name in re.findall(r'installer_rule_program\(\s*(\w+)', text):
            targets.update({name, name + 'Prefix'})
        # installer_rule_tests(NAME ...) makes NAME_<rule> for each rule.
        for name in re.findall(r'installer_rule_tests\(\s*(\w+)', text):
            targets.update(f'{name}_{rule}' for rule in ('equality', 'prefix'))

# Folders and files the builds and scripts make beside the programs: outputs, not targets.
output_folders = {'wine-tests', 'wine-suite', 'demo', 'benchmarks', 'fuzzers', 'wine-prefix',
                  'corpus', 'findings', 'logs', 'DriverStore', 'SHA256SUMS'}

PATH = re.compile(r'(?<![\w/.-])((?:scripts|SourceCode|tests|examples|cmake|docs|\.ci)/[\w./-]*[\w/])')
LINK = re.compile(r'\]\(([^)#\s]+)(?:#[^)]*)?\)')
COMMAND = re.compile(r'\b(cmake --build|cmake --workflow|cmake|ctest|cpack) --preset ([\w-]+)')
BUILT = re.compile(r'\bbuild/(?:[\w-]+|<preset>)/(?:fuzzers/|benchmarks/)?([\w]+)(\.exe)?\b(?![/.\w-])')
NAMED = re.compile(r'`([a-z]+(?:_[a-z]+)*_(?:fuzzer|bench|heap|record|tests))`')
command_kind = {'cmake': 'configure', 'cmake --build': 'build', 'ctest': 'test', 'cpack': 'package',
                'cmake --workflow': 'workflow'}

missing = []
counts = {'paths': 0, 'presets': 0, 'targets': 0}
for page in sys.argv[1:]:
    for number, line in enumerate(open(page, encoding='utf-8'), 1):
        if '(to come)' in line:
            continue
        where = f'{page}:{number}'
        for path in PATH.findall(line):
            counts['paths'] += 1
            if not os.path.exists(path):
                missing.append(f'{where}: no such path {path}')
        for link in LINK.findall(line):
            if re.match(r'[a-z]+:', link):
                continue
            counts['paths'] += 1
            if not os.path.exists(os.path.join(os.path.dirname(page), link)):
                missing.append(f'{where}: broken link {link}')
        for command, preset in COMMAND.findall(line):
            counts['presets'] += 1
            if preset not in known[command_kind[command]]:
                missing.append(f'{where}: no {command_kind[command]} preset {preset}')
        for name, _ in BUILT.findall(line):
            if name in output_folders:
                continue
            counts['targets'] += 1
            if name not in targets:
                missing.append(f'{where}: no target {name}')
        for name in NAMED.findall(line):
            counts['targets'] += 1
            if name not in targets:
                missing.append(f'{where}: no target {name}')

for problem in missing:
    print('docs: ' + problem, file=sys.stderr)
print('docs: {paths} paths, {presets} preset uses, {targets} target names checked'.format(**counts))
sys.exit(1 if missing else 0)
PYTHON
