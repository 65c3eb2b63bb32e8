#!/usr/bin/env python3
"""Writes, hashes and lists the catalogs of the signature cases, with asn1crypto.

    catalog.py write [--hash sha1|sha256] [--time YYYYMMDDHHMMSSZ] [--os-attr TEXT]
                     [--attr NAME=VALUE]... [--fault FAULT | --list-only] -o CATALOG FILE...
    catalog.py hash [--hash sha1|sha256] FILE...
    catalog.py list CATALOG
    catalog.py tamper CATALOG
    catalog.py signer CATALOG (drop-digest|drop-certificates|flip-signature|attribute-first)

write makes an unsigned catalog: PKCS#7 signed data with no signer, whose content (type
1.3.6.1.4.1.311.10.1) is a certificate trust list of usage szOID_CATALOG_LIST. Each FILE is a
member, tagged with its hash in upper-case hex (UTF-16LE, with its terminating NUL), with
  - the indirect data (1.3.6.1.4.1.311.2.1.4): SpcPeImageData (1.3.6.1.4.1.311.2.1.15) and the
    Authenticode image hash for a PE image, else SPC_CAB_DATA (1.3.6.1.4.1.311.2.1.25) and the
    hash of the file's bytes;
  - the member information (1.3.6.1.4.1.311.12.2.2): the subject type (the PE image or the flat
    file subject) and 0x200;
  - the name-value attributes (1.3.6.1.4.1.311.12.2.1) "File" (the file name, lower-cased) and
    "OSAttr".
Members are sorted by tag; a file whose hash is already a member is listed once. --hash sha1 makes
the members SHA-1 ones (list member 1.3.6.1.4.1.311.12.1.2), sha256 (the default) SHA-256 ones
(1.3.6.1.4.1.311.12.1.3). --attr adds a catalog attribute (such as OS or HWID1). The time and the
list identifier are fixed by default, so that the same files give the same bytes. osslsigncode
signs the result.

--fault writes a catalog with one thing wrong, or an optional part present or absent, for the
readers' tests (FAULTS below lists them; the first member is the one changed). --list-only writes
the certificate trust list alone, for a CMS signer (openssl cms -sign -econtent_type) to wrap.

hash prints "<tag> <pe|flat> <file>" per FILE; list prints a catalog's member algorithm, whether it
is signed, and one "<tag> <pe|flat> <file name>" line per member. tamper flips one bit of a
catalog's list identifier in place: its content changes, its length and its signature do not.
signer changes a signed catalog's first signer in place: drop-digest leaves out its messageDigest
attribute, drop-certificates the message's certificates, flip-signature flips a bit of its
signature, attribute-first adds an unauthenticated attribute of another type that sorts before
the others (before a timestamp).
Exit 1 on a file that is not a catalog (list, tamper), 2 on a wrong command line.

The Authenticode image hash of a PE image covers the whole file except the checksum field of the
optional header, the certificate-table entry of its data directory and the certificate table
itself, so that signing the image afterwards (which writes those three) leaves it unchanged. An
image is hashed as its bytes lie (no padding added); signing tools pad an image to a multiple of
8 bytes before they append the table, so a catalogued image should already be one.
"""

import argparse
import datetime
import hashlib
import struct
import sys

from asn1crypto import algos, cms, core, x509

CTL_CONTENT = '1.3.6.1.4.1.311.10.1'
INDIRECT_DATA = '1.3.6.1.4.1.311.2.1.4'
CATALOG_LIST = '1.3.6.1.4.1.311.12.1.1'
LIST_MEMBER = {'sha1': '1.3.6.1.4.1.311.12.1.2', 'sha256': '1.3.6.1.4.1.311.12.1.3'}
SUBJECT_PE = '{C689AAB8-8E78-11D0-8C47-00C04FC295EE}'
SUBJECT_FLAT = '{DE351A42-8E59-11D0-8C47-00C04FC295EE}'
# CRYPTCAT_ATTR_AUTHENTICATED | CRYPTCAT_ATTR_NAMEASCII | CRYPTCAT_ATTR_DATAASCII
NAME_VALUE_FLAGS = 0x10010001
OBSOLETE = '<<<Obsolete>>>'
DEFAULT_TIME = '20240301000000Z'


# --- The structures, as asn1crypto types -----------------------------------------------------

class SpcString(core.Choice):
    _alternatives = [
        ('unicode', core.BMPString, {'implicit': 0}),
        ('ascii', core.IA5String, {'implicit': 1}),
    ]


class SpcSerializedObject(core.Sequence):
    _fields = [('class_id', core.OctetString), ('serialized_data', core.OctetString)]


class SpcLink(core.Choice):
    _alternatives = [
        ('url', core.IA5String, {'implicit': 0}),
        ('moniker', SpcSerializedObject, {'implicit': 1}),
        ('file', SpcString, {'explicit': 2}),
    ]


class SpcPeImageFlags(core.BitString):
    _map = {0: 'include_resources', 1: 'include_debug_info', 2: 'include_import_address_table'}


class SpcPeImageData(core.Sequence):
    _fields = [
        ('flags', SpcPeImageFlags),
        ('file', SpcLink, {'explicit': 0, 'optional': True}),
    ]


class SpcDataType(core.ObjectIdentifier):
    _map = {'1.3.6.1.4.1.311.2.1.15': 'pe_image_data', '1.3.6.1.4.1.311.2.1.25': 'cab_data'}


class SpcAttributeTypeAndOptionalValue(core.Sequence):
    _fields = [('type', SpcDataType), ('value', core.Any, {'optional': True})]
    _oid_pair = ('type', 'value')
    _oid_specs = {'pe_image_data': SpcPeImageData, 'cab_data': SpcLink}


class SpcIndirectDataContent(core.Sequence):
    _fields = [('data', SpcAttributeTypeAndOptionalValue), ('message_digest', algos.DigestInfo)]


class CatNameValue(core.Sequence):
    _fields = [('tag', core.BMPString), ('flags', core.Integer), ('value', core.OctetString)]


class CatMemberInfo(core.Sequence):
    _fields = [('subject_type', core.BMPString), ('cert_version', core.Integer)]


class MemberAttributeType(core.ObjectIdentifier):
    _map = {
        '1.3.6.1.4.1.311.2.1.4': 'indirect_data',
        '1.3.6.1.4.1.311.12.2.1': 'name_value',
        '1.3.6.1.4.1.311.12.2.2': 'member_info',
    }


class SetOfIndirectData(core.SetOf):
    _child_spec = SpcIndirectDataContent


class SetOfNameValue(core.SetOf):
    _child_spec = CatNameValue


class SetOfMemberInfo(core.SetOf):
    _child_spec = CatMemberInfo


class SetOfAny(core.SetOf):
    _child_spec = core.Any


class MemberAttribute(core.Sequence):
    _fields = [('type', MemberAttributeType), ('values', None)]
    _oid_specs = {
        'indirect_data': SetOfIndirectData,
        'name_value': SetOfNameValue,
        'member_info': SetOfMemberInfo,
    }

    def _values_spec(self):
        return self._oid_specs.get(self['type'].native, SetOfAny)

    _spec_callbacks = {'values': _values_spec}


class MemberAttributes(core.SetOf):
    _child_spec = MemberAttribute


class TrustedSubject(core.Sequence):
    _fields = [
        ('subject_identifier', core.OctetString),
        ('subject_attributes', MemberAttributes, {'optional': True}),
    ]


class TrustedSubjects(core.SequenceOf):
    _child_spec = TrustedSubject


class SubjectUsage(core.SequenceOf):
    _child_spec = core.ObjectIdentifier


class SubjectAlgorithm(core.Sequence):
    _fields = [('algorithm', core.ObjectIdentifier), ('parameters', core.Any, {'optional': True})]


class CatalogAttribute(core.Sequence):
    # As an X.509 extension: its value is the DER of a CatNameValue.
    _fields = [('type', core.ObjectIdentifier), ('value', core.OctetString)]


class CatalogAttributes(core.SequenceOf):
    _child_spec = CatalogAttribute


class CertificateTrustList(core.Sequence):
    _fields = [
        ('version', core.Integer, {'default': 0}),
        ('subject_usage', SubjectUsage),
        ('list_identifier', core.OctetString, {'optional': True}),
        ('sequence_number', core.Integer, {'optional': True}),
        ('this_update', x509.Time),
        ('next_update', x509.Time, {'optional': True}),
        ('subject_algorithm', SubjectAlgorithm),
        ('trusted_subjects', TrustedSubjects, {'optional': True}),
        ('extensions', CatalogAttributes, {'explicit': 0, 'optional': True}),
    ]


# A signed-data message whose content is a certificate trust list. Version 1 signed data holds its
# content as PKCS#7 does, [0] EXPLICIT ANY (not wrapped in an OCTET STRING as CMS's data is), so
# asn1crypto reads and writes it through ContentInfo's table.
cms.ContentType._map[CTL_CONTENT] = 'certificate_trust_list'
cms.ContentInfo._oid_specs['certificate_trust_list'] = CertificateTrustList


# Elements of any type, for the faults: a sequence or set of them, and a message whose content is
# any element (its [0] EXPLICIT written as an implicitly tagged sequence of that one element).
class AnySequence(core.SequenceOf):
    _child_spec = core.Any


class AnySet(core.SetOf):
    _child_spec = core.Any


class AnyContentInfo(core.Sequence):
    _fields = [('content_type', cms.ContentType), ('content', AnySequence, {'implicit': 0})]


class AnySignedData(core.Sequence):
    _fields = [
        ('version', cms.CMSVersion), ('digest_algorithms', cms.DigestAlgorithms),
        ('encap_content_info', AnyContentInfo), ('signer_infos', cms.SignerInfos),
    ]


def elements(der):
    """The DER of each element of a SEQUENCE or SET."""
    return [element.dump() for element in (AnySet if der[0] == 0x31 else AnySequence).load(der)]


def sequence(parts):
    return AnySequence([core.Any.load(part) for part in parts]).dump()


def set_of(parts):
    return AnySet([core.Any.load(part) for part in parts]).dump()


def changed_member(ctl_parts, change):
    """The trust list's parts with its first member's (identifier, attributes) parts changed."""
    subjects = elements(ctl_parts[-1])
    subjects[0] = sequence(change(elements(subjects[0])))
    return ctl_parts[:-1] + [sequence(subjects)]


def changed_attributes(ctl_parts, change):
    """The first member's attributes, each as its (type, values) parts, changed."""
    return changed_member(ctl_parts, lambda parts: [parts[0], set_of(
        [sequence(attribute) for attribute in change([elements(a) for a in elements(parts[1])])])])


def changed_indirect(ctl_parts, change):
    """The first member's indirect data, the DER of each value, changed."""
    def values(attributes):
        for attribute in attributes:
            if attribute[0] == core.ObjectIdentifier(INDIRECT_DATA).dump():
                attribute[1] = set_of(change(elements(attribute[1])))
        return attributes
    return changed_attributes(ctl_parts, values)


def indirect_with_digest(algorithm, size):
    return lambda values: [SpcIndirectDataContent({
        'data': {'type': 'cab_data', 'value': SpcLink(name='url', value='x')},
        'message_digest': {'digest_algorithm': {'algorithm': algorithm}, 'digest': b'\x11' * size},
    }).dump()]


OTHER_USAGE = '1.3.6.1.4.1.311.10.3.1'
# Each fault: a change to the trust list's fields (a dict), to its parts (the DER of each field, in
# order: the default writer gives subject usage, list identifier, this update, subject algorithm
# and trusted subjects), or to the message's content.
FAULTS = {
    'message-not-signed': ('message', lambda ctl: cms.ContentInfo(
        {'content_type': 'data', 'content': ctl}).dump()),
    'content-not-trust-list': ('content', lambda ctl: ('data', [core.OctetString(ctl)])),
    'content-in-octet-string': ('content', lambda ctl: (CTL_CONTENT, [core.OctetString(ctl)])),
    'list-not-sequence': ('content', lambda ctl: (CTL_CONTENT, [core.Integer(1)])),
    'bytes-after-list': ('content', lambda ctl: (CTL_CONTENT, [core.Any.load(ctl), core.Null()])),
    'usage-not-catalog': ('fields', lambda ctl: ctl.update(subject_usage=[OTHER_USAGE])),
    'usage-catalog-second': ('fields', lambda ctl: ctl.update(
        subject_usage=[OTHER_USAGE, CATALOG_LIST])),
    'usage-not-oid': ('parts', lambda parts: [sequence([core.Integer(1).dump()])] + parts[1:]),
    'algorithm-other': ('fields', lambda ctl: ctl['subject_algorithm'].update(
        algorithm='2.16.840.1.101.3.4.2.1')),
    'no-this-update': ('parts', lambda parts: parts[:2] + parts[3:]),
    'optional-all': ('fields', lambda ctl: ctl.update(
        version=1, sequence_number=7, next_update=ctl['this_update'],
        extensions=[{'type': '1.3.6.1.4.1.311.12.2.1',
                     'value': name_value('OS', 'XPX86').dump()}])),
    'optional-none': ('fields', lambda ctl: [ctl.pop('list_identifier'),
                                             ctl.pop('trusted_subjects')]),
    'member-extra-element': ('parts', lambda parts: changed_member(
        parts, lambda member: member + [core.Integer(1).dump()])),
    'member-identifier-only': ('parts', lambda parts: changed_member(parts, lambda m: m[:1])),
    'attributes-not-set': ('parts', lambda parts: changed_member(
        parts, lambda member: [member[0], sequence(elements(member[1]))])),
    'values-not-set': ('parts', lambda parts: changed_attributes(
        parts, lambda attributes: [[a[0], sequence(elements(a[1]))] for a in attributes])),
    'attribute-extra-element': ('parts', lambda parts: changed_attributes(
        parts, lambda attributes: [a + [core.Integer(1).dump()] for a in attributes])),
    # A value that is no indirect data before the good one: the member is still read.
    'indirect-bad-value-first': ('parts', lambda parts: changed_indirect(
        parts, lambda values: [sequence([sequence([]), core.Integer(1).dump()])] + values)),
    'indirect-sha1-of-32-bytes': ('parts', lambda parts: changed_indirect(
        parts, indirect_with_digest('sha1', 32))),
    'indirect-md5': ('parts', lambda parts: changed_indirect(parts, indirect_with_digest('md5', 16))),
}


# --- Hashes -----------------------------------------------------------------------------------

def pe_excluded_ranges(data):
    """The (offset, length) ranges the Authenticode image hash leaves out; None: not a PE image."""
    if len(data) < 0x40 or data[:2] != b'MZ':
        return None
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    optional = pe + 24
    if optional + 2 > len(data) or data[pe:pe + 4] != b'PE\0\0':
        return None
    magic = struct.unpack_from('<H', data, optional)[0]
    if magic == 0x10B:
        count_at, directories = optional + 92, optional + 96
    elif magic == 0x20B:
        count_at, directories = optional + 108, optional + 112
    else:
        return None
    if directories > len(data):
        return None
    ranges = [(optional + 64, 4)]  # CheckSum
    if struct.unpack_from('<I', data, count_at)[0] > 4 and directories + 40 <= len(data):
        entry = directories + 4 * 8  # IMAGE_DIRECTORY_ENTRY_SECURITY
        ranges.append((entry, 8))
        table, size = struct.unpack_from('<II', data, entry)
        if size and table >= entry + 8 and table + size <= len(data):
            ranges.append((table, size))  # its "address" is a file offset
    return ranges


def file_hash(path, algorithm):
    """(digest, 'pe' or 'flat') of the file at `path`."""
    with open(path, 'rb') as stream:
        data = stream.read()
    ranges = pe_excluded_ranges(data)
    digest = hashlib.new(algorithm)
    if ranges is None:
        digest.update(data)
        return digest.digest(), 'flat'
    view = memoryview(data)
    at = 0
    for start, length in ranges:
        digest.update(view[at:start])
        at = start + length
    digest.update(view[at:])
    return digest.digest(), 'pe'


def tag_of(digest):
    return digest.hex().upper()


# --- Writing ----------------------------------------------------------------------------------

def utf16z(text):
    return (text + '\0').encode('utf-16-le')


def name_value(name, value):
    return CatNameValue({'tag': name, 'flags': NAME_VALUE_FLAGS, 'value': utf16z(value)})


def member(path, algorithm, os_attr):
    digest, kind = file_hash(path, algorithm)
    link = SpcLink(name='file', value=SpcString(name='unicode', value=OBSOLETE))
    if kind == 'pe':
        data = {'type': 'pe_image_data', 'value': SpcPeImageData({'flags': set(), 'file': link})}
    else:
        data = {'type': 'cab_data', 'value': link}
    indirect = SpcIndirectDataContent({
        'data': data,
        'message_digest': {
            'digest_algorithm': {'algorithm': algorithm, 'parameters': core.Null()},
            'digest': digest,
        },
    })
    file_name = path.replace('\\', '/').rsplit('/', 1)[-1].lower()
    attributes = [
        {'type': 'indirect_data', 'values': [indirect]},
        {'type': 'member_info', 'values': [
            {'subject_type': SUBJECT_PE if kind == 'pe' else SUBJECT_FLAT, 'cert_version': 0x200}]},
        {'type': 'name_value', 'values': [name_value('File', file_name)]},
    ]
    if os_attr:
        attributes.append({'type': 'name_value', 'values': [name_value('OSAttr', os_attr)]})
    return tag_of(digest), TrustedSubject({
        'subject_identifier': utf16z(tag_of(digest)),
        'subject_attributes': attributes,
    })


def write_catalog(files, algorithm, when, os_attr, attributes, fault=None):
    members = {}
    for path in files:
        tag, entry = member(path, algorithm, os_attr)
        members.setdefault(tag, entry)
    tags = sorted(members)
    ctl = {
        'subject_usage': [CATALOG_LIST],
        'list_identifier': hashlib.sha256(''.join(tags).encode()).digest()[:16],
        'this_update': x509.Time(name='utc_time', value=when),
        'subject_algorithm': {'algorithm': LIST_MEMBER[algorithm], 'parameters': core.Null()},
        'trusted_subjects': [members[tag] for tag in tags],
    }
    if attributes:
        ctl['extensions'] = [
            {'type': '1.3.6.1.4.1.311.12.2.1', 'value': name_value(name, value).dump()}
            for name, value in attributes]
    kind, change = FAULTS[fault] if fault in FAULTS else (None, None)
    if kind == 'fields':
        change(ctl)
    content = CertificateTrustList(ctl).dump()
    if fault == 'list-only':
        return content
    if kind == 'parts':
        content = sequence(change(elements(content)))
    if kind == 'message':
        return change(content)
    content_type, content = change(content) if kind == 'content' else (
        CTL_CONTENT, [core.Any.load(content)])
    return AnyContentInfo({
        'content_type': 'signed_data',
        'content': [AnySignedData({
            'version': 'v1',
            'digest_algorithms': [],
            'encap_content_info': {'content_type': content_type, 'content': content},
            'signer_infos': [],
        })],
    }).dump()


def change_signer(data, change):
    """A signed catalog with its first signer changed: `change` as signer()'s CHANGE says."""
    message = cms.ContentInfo.load(data)
    signed = message['content']
    info = signed['signer_infos'][0]
    if change == 'drop-digest':
        info['signed_attrs'] = [attribute for attribute in info['signed_attrs']
                                if attribute['type'].native != 'message_digest']
    elif change == 'drop-certificates':
        del signed['certificates']
    elif change == 'attribute-first':
        other = {'type': '1.3.6.1.4.1.311.10.3.99', 'values': [core.Null()]}
        info['unsigned_attrs'] = [other] + list(info['unsigned_attrs'])
    else:
        signature = bytearray(info['signature'].native)
        signature[len(signature) // 2] ^= 0x01
        info['signature'] = bytes(signature)
    return message.dump(force=False)


# --- Reading ----------------------------------------------------------------------------------

def trust_list(data):
    """(signed data, certificate trust list) of a catalog; ValueError: not a catalog."""
    message = cms.ContentInfo.load(data, strict=True)
    if message['content_type'].native != 'signed_data':
        raise ValueError('not PKCS#7 signed data')
    signed = message['content']
    content = signed['encap_content_info']
    if content['content_type'].native != 'certificate_trust_list':
        raise ValueError('its content is not a certificate trust list')
    ctl = content['content']
    if CATALOG_LIST not in [usage.dotted for usage in ctl['subject_usage']]:
        raise ValueError('the trust list is not a catalog list')
    return signed, ctl


def read_catalog(data):
    """(member algorithm, signer count, [(tag, kind, file name)]); ValueError: not a catalog."""
    try:
        signed, ctl = trust_list(data)
        algorithms = {oid: name for name, oid in LIST_MEMBER.items()}
        algorithm = algorithms.get(ctl['subject_algorithm']['algorithm'].dotted, 'unknown')
        members = []
        for subject in ctl['trusted_subjects']:
            tag = subject['subject_identifier'].native.decode('utf-16-le').rstrip('\0')
            kind, name = '-', '-'
            for attribute in subject['subject_attributes']:
                kind_name = attribute['type'].native
                for value in attribute['values']:
                    if kind_name == 'indirect_data':
                        data_type = value['data']['type'].native
                        kind = {'pe_image_data': 'pe', 'cab_data': 'flat'}.get(data_type, data_type)
                    elif kind_name == 'name_value' and value['tag'].native == 'File':
                        name = value['value'].native.decode('utf-16-le').rstrip('\0')
            members.append((tag, kind, name))
        return algorithm, len(signed['signer_infos']), members
    except ValueError:
        raise
    except Exception as error:  # asn1crypto reports malformed input with several types
        raise ValueError(f'does not decode: {error}') from error


# --- Command line -----------------------------------------------------------------------------

def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    commands = parser.add_subparsers(dest='command', required=True)
    write = commands.add_parser('write')
    write.add_argument('--hash', choices=sorted(LIST_MEMBER), default='sha256')
    write.add_argument('--time', default=DEFAULT_TIME)
    write.add_argument('--os-attr', default='2:10.0')
    write.add_argument('--attr', action='append', default=[])
    write.add_argument('--fault', choices=sorted(FAULTS))
    write.add_argument('--list-only', action='store_const', const='list-only', dest='fault')
    write.add_argument('-o', '--output', required=True)
    write.add_argument('files', nargs='+')
    hashes = commands.add_parser('hash')
    hashes.add_argument('--hash', choices=sorted(LIST_MEMBER), default='sha256')
    hashes.add_argument('files', nargs='+')
    listing = commands.add_parser('list')
    listing.add_argument('catalog')
    tamper = commands.add_parser('tamper')
    tamper.add_argument('catalog')
    signer = commands.add_parser('signer')
    signer.add_argument('catalog')
    signer.add_argument('change', choices=['drop-digest', 'drop-certificates', 'flip-signature',
                                           'attribute-first'])
    args = parser.parse_args(argv)

    if args.command == 'write':
        try:
            when = datetime.datetime.strptime(args.time, '%Y%m%d%H%M%SZ').replace(
                tzinfo=datetime.timezone.utc)
        except ValueError:
            parser.error(f'--time {args.time}: not YYYYMMDDHHMMSSZ')
        attributes = []
        for text in args.attr:
            name, equals, value = text.partition('=')
            if not equals or not name:
                parser.error(f'--attr {text}: not NAME=VALUE')
            attributes.append((name, value))
        data = write_catalog(args.files, args.hash, when, args.os_attr, attributes, args.fault)
        with open(args.output, 'wb') as stream:
            stream.write(data)
    elif args.command == 'hash':
        for path in args.files:
            digest, kind = file_hash(path, args.hash)
            print(f'{tag_of(digest)} {kind} {path}')
    elif args.command == 'signer':
        with open(args.catalog, 'rb') as stream:
            data = change_signer(stream.read(), args.change)
        with open(args.catalog, 'wb') as stream:
            stream.write(data)
    elif args.command == 'tamper':
        with open(args.catalog, 'rb') as stream:
            data = bytearray(stream.read())
        try:
            identifier = trust_list(bytes(data))[1]['list_identifier'].contents
        except Exception as error:
            print(f'{args.catalog}: not a catalog: {error}', file=sys.stderr)
            return 1
        at = data.find(identifier) if identifier else -1
        if at < 0 or data.find(identifier, at + 1) >= 0:
            print(f'{args.catalog}: its list identifier is not found once', file=sys.stderr)
            return 1
        data[at] ^= 0x01
        with open(args.catalog, 'wb') as stream:
            stream.write(data)
    else:
        with open(args.catalog, 'rb') as stream:
            data = stream.read()
        try:
            algorithm, signers, members = read_catalog(data)
        except ValueError as error:
            print(f'{args.catalog}: not a catalog: {error}', file=sys.stderr)
            return 1
        print(f'members: {algorithm}, signers: {signers}')
        for tag, kind, name in members:
            print(f'{tag} {kind} {name}')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
